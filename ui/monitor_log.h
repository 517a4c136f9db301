#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

#include <QAbstractTableModel>
#include <QBrush>
#include <QDateTime>
#include <QFont>
#include <QSortFilterProxyModel>
#include <QTimer>

#include "trace/trace_rows.h"

namespace quillon {

// The protocol monitor's rows: the last 100,000 trace rows of the link, as a
// table. Rows come in on the thread that ticks the engine (the UI thread) as
// they happen and are shown in batches, so a busy line costs the view one
// update every quarter of a second rather than one per frame: laying out the
// text of the rows shown is the dearest thing the monitor does.
class MonitorLog final : public QAbstractTableModel {
    Q_OBJECT

public:
    // About 30 MB of rows when full: at the 9600-baud line's continuous rate
    // the last quarter of an hour or more.
    static constexpr std::size_t kCapacity = 100000;
    static constexpr int kBatchMs = 250;

    enum Column : int {
        kTimeColumn,
        kClockColumn,
        kDirectionColumn,
        kBlockColumn,
        kBytesColumn,
        kMeaningColumn,
        kErrorColumn,
        kColumnCount,
    };

    // start is the wall-clock time of row time 0.
    explicit MonitorLog(QDateTime start, std::size_t capacity = kCapacity, QObject* parent = nullptr);

    // Takes a row as it happens; it shows within kBatchMs, or at Flush.
    void Add(const TraceRow& row);
    // Shows the rows taken since the last batch, unless paused.
    void Flush();
    // Forgets every row shown and waiting; numbering goes on.
    void Clear();
    // While paused the rows shown stay as they are; the rows that arrive
    // wait (within the capacity) and show once the pause ends.
    void SetPaused(bool paused);

    const TraceRow& RowAt(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    // The wall-clock time of a row.
    QDateTime WallClock(const TraceRow& row) const;
    // The table row of the frame with this engine frame number, if shown.
    std::optional<int> RowOfFrame(std::uint32_t frame) const;
    // The table row with this row number, if shown.
    std::optional<int> RowOfNumber(std::uint64_t number) const;
    // Which frame drew a display pixel, given the display memory's writer
    // of its column byte: the row number and the frame's meaning, or why it
    // is not shown.
    QString DescribeWriter(std::uint32_t frame) const;
    std::size_t capacity() const { return capacity_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    // Frees room for count more rows, a hundredth of the capacity at least,
    // so the views resettle their rows seldom.
    void MakeRoom(std::size_t count);

    const QDateTime start_;
    const std::size_t capacity_;
    // Made once: the view asks for them for every cell it paints.
    const QBrush oddBlockShade_;
    const QBrush errorText_;
    const QBrush faultText_;
    const QFont bytesFont_;
    std::deque<TraceRow> rows_;
    // Engine frame number and table row number of each frame row shown, in
    // order: both grow, so a lookup is a binary search.
    std::deque<std::pair<std::uint32_t, std::uint64_t>> frames_;
    std::deque<TraceRow> waiting_;
    bool paused_ = false;
    QTimer batch_;
};

// The rows a monitor view shows: all, errors only, or the frames of one
// function code. It follows the log only while a view shows it, so a closed
// monitor costs nothing for each batch of rows.
class MonitorFilter final : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit MonitorFilter(MonitorLog& log, QObject* parent = nullptr);

    // Takes in the log's rows and follows it, or lets go of it (no rows).
    void SetFollowing(bool following);

    void SetErrorsOnly(bool errorsOnly);
    // A function code (1 to 14), or nothing for every row.
    void SetCode(std::optional<int> code);
    const TraceRow& RowAt(int row) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    MonitorLog& log_;
    bool errorsOnly_ = false;
    std::optional<int> code_;
};

} // namespace quillon

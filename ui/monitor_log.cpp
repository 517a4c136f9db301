#include "ui/monitor_log.h"

#include <algorithm>
#include <iterator>

#include <QColor>
#include <QFontDatabase>

#include "trace/frame_decoder.h"

namespace quillon {

namespace {

// Every other block is shaded, so the frames of a block and its reply read
// as one group.
const QColor kOddBlockShade(128, 128, 128, 36);
const QColor kErrorText(170, 0, 0);
// A fault injected on purpose stands apart from the errors the line made.
const QColor kFaultText(128, 0, 160);

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString DirectionText(const TraceRow& row)
{
    if (row.kind == TraceKind::Note) {
        return {};
    }
    return row.direction == TraceDirection::Device ? QStringLiteral("device → panel")
                                                   : QStringLiteral("panel → device");
}

} // namespace

MonitorLog::MonitorLog(QDateTime start, std::size_t capacity, QObject* parent)
    : QAbstractTableModel(parent), start_(std::move(start)), capacity_(std::max<std::size_t>(capacity, 1)),
      oddBlockShade_(kOddBlockShade), errorText_(kErrorText), faultText_(kFaultText),
      bytesFont_(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{
    batch_.setSingleShot(true);
    batch_.setInterval(kBatchMs);
    connect(&batch_, &QTimer::timeout, this, &MonitorLog::Flush);
}

void MonitorLog::Add(const TraceRow& row)
{
    waiting_.push_back(row);
    if (waiting_.size() > capacity_) {
        waiting_.erase(waiting_.begin());
    }
    if (!paused_ && !batch_.isActive()) {
        batch_.start();
    }
}

void MonitorLog::Flush()
{
    batch_.stop();
    if (paused_ || waiting_.empty()) {
        return;
    }
    MakeRoom(waiting_.size());
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(waiting_.size()) - 1);
    for (TraceRow& row : waiting_) {
        if (row.kind == TraceKind::Frame) {
            frames_.emplace_back(row.frame, row.number);
        }
        rows_.push_back(std::move(row));
    }
    waiting_.clear();
    endInsertRows();
}

void MonitorLog::MakeRoom(std::size_t count)
{
    if (rows_.size() + count <= capacity_) {
        return;
    }
    const std::size_t drop = std::min(rows_.size(), std::max(rows_.size() + count - capacity_, capacity_ / 100));
    if (drop == 0) {
        return;
    }
    beginRemoveRows({}, 0, static_cast<int>(drop) - 1);
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(drop));
    const std::uint64_t firstKept = rows_.empty() ? 0 : rows_.front().number;
    while (!frames_.empty() && (rows_.empty() || frames_.front().second < firstKept)) {
        frames_.pop_front();
    }
    endRemoveRows();
}

void MonitorLog::Clear()
{
    beginResetModel();
    rows_.clear();
    frames_.clear();
    waiting_.clear();
    endResetModel();
}

void MonitorLog::SetPaused(bool paused)
{
    paused_ = paused;
    if (!paused_) {
        Flush();
    }
}

QDateTime MonitorLog::WallClock(const TraceRow& row) const
{
    return start_.addMSecs(static_cast<qint64>(row.timeUs / 1000));
}

std::optional<int> MonitorLog::RowOfFrame(std::uint32_t frame) const
{
    const auto found = std::lower_bound(frames_.begin(), frames_.end(), frame,
                                        [](const auto& entry, std::uint32_t wanted) { return entry.first < wanted; });
    if (found == frames_.end() || found->first != frame) {
        return std::nullopt;
    }
    return RowOfNumber(found->second);
}

std::optional<int> MonitorLog::RowOfNumber(std::uint64_t number) const
{
    const auto row =
        std::lower_bound(rows_.begin(), rows_.end(), number,
                         [](const TraceRow& entry, std::uint64_t wanted) { return entry.number < wanted; });
    if (row == rows_.end() || row->number != number) {
        return std::nullopt;
    }
    return static_cast<int>(std::distance(rows_.begin(), row));
}

QString MonitorLog::DescribeWriter(std::uint32_t frame) const
{
    if (frame == 0) {
        return QStringLiteral("drawn by no frame: the panel's start-up screen, or never drawn");
    }
    if (const std::optional<int> row = RowOfFrame(frame)) {
        const TraceRow& written = RowAt(*row);
        return QStringLiteral("row %1 (frame %2, block %3): %4")
            .arg(written.number)
            .arg(frame)
            .arg(written.block)
            .arg(Text(written.meaning));
    }
    if (!frames_.empty() && frame > frames_.back().first) {
        return QStringLiteral("frame %1, not shown yet: the monitor is paused").arg(frame);
    }
    return QStringLiteral("frame %1, no longer shown: cleared, or older than the last %L2 rows")
        .arg(frame)
        .arg(capacity_);
}

int MonitorLog::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MonitorLog::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant MonitorLog::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const TraceRow& row = RowAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case kTimeColumn:
            return QString::number(static_cast<double>(row.timeUs) / 1000.0, 'f', 3);
        case kClockColumn:
            return WallClock(row).toString(QStringLiteral("HH:mm:ss.zzz"));
        case kDirectionColumn:
            return DirectionText(row);
        case kBlockColumn:
            return row.block;
        case kBytesColumn:
            return Text(HexBytes(row.bytes));
        case kMeaningColumn:
            return Text(row.meaning);
        case kErrorColumn:
            return Text(row.error);
        default:
            return {};
        }
    case Qt::BackgroundRole:
        return row.block % 2 != 0 ? oddBlockShade_ : QVariant();
    case Qt::ForegroundRole:
        if (row.kind == TraceKind::Fault) {
            return faultText_;
        }
        return index.column() == kErrorColumn ? errorText_ : QVariant();
    case Qt::FontRole:
        return index.column() == kBytesColumn ? bytesFont_ : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == kTimeColumn || index.column() == kBlockColumn
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    default:
        return {};
    }
}

QVariant MonitorLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) {
        return {};
    }
    if (orientation == Qt::Vertical) {
        return section < rowCount() ? QVariant(static_cast<qulonglong>(RowAt(section).number)) : QVariant();
    }
    switch (section) {
    case kTimeColumn:
        return QStringLiteral("Time (ms)");
    case kClockColumn:
        return QStringLiteral("Clock");
    case kDirectionColumn:
        return QStringLiteral("Direction");
    case kBlockColumn:
        return QStringLiteral("Block");
    case kBytesColumn:
        return QStringLiteral("Bytes");
    case kMeaningColumn:
        return QStringLiteral("Meaning");
    case kErrorColumn:
        return QStringLiteral("Error");
    default:
        return {};
    }
}

MonitorFilter::MonitorFilter(MonitorLog& log, QObject* parent) : QSortFilterProxyModel(parent), log_(log)
{
}

void MonitorFilter::SetFollowing(bool following)
{
    setSourceModel(following ? &log_ : nullptr);
}

void MonitorFilter::SetErrorsOnly(bool errorsOnly)
{
    errorsOnly_ = errorsOnly;
    invalidateRowsFilter();
}

void MonitorFilter::SetCode(std::optional<int> code)
{
    code_ = code;
    invalidateRowsFilter();
}

const TraceRow& MonitorFilter::RowAt(int row) const
{
    return log_.RowAt(mapToSource(index(row, 0)).row());
}

bool MonitorFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    const TraceRow& row = log_.RowAt(sourceRow);
    // A fault injected on purpose is what a user looking for errors wants
    // to see beside them.
    if (errorsOnly_ && row.error.empty() && row.kind != TraceKind::Fault) {
        return false;
    }
    return !code_ || (row.kind == TraceKind::Frame && row.code == *code_);
}

} // namespace quillon

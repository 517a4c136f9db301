#pragma once

#include <cstdint>

#include <QImage>
#include <QRect>
#include <QWidget>

#include "link/engine_interfaces.h"
#include "link/link_state.h"
#include "link/panel_link.h"

namespace quillon {

class CCorvaneDoc;

// The panel view: shows the panel picture with the emulated display inside
// it, turns left-button presses on the four keys into the key latch, and
// drives the link from its 10 ms timer. The link object lives inside it.
class CCorvaneView final : public QWidget, public PanelView {
    Q_OBJECT

public:
    static constexpr QSize kPanelSize{302, 305};
    static constexpr QRgb kDisplayBackground = qRgb(188, 225, 101);
    static constexpr QRgb kDisplayInk = qRgb(0, 0, 0);
    static constexpr int kTimerPeriodMs = 10;

    CCorvaneView(CCorvaneDoc* document, LinkState& state, PanelPort& port, Clock& clock, QWidget* parent = nullptr);

    // Called once, before the window is first shown: creates the images,
    // starts the reader thread and the timer, and draws the start-up screen.
    void OnInitialUpdate();
    void LoadPanelImage();
    void CreateDisplayImage();

    void DrawColumnRun(const DrawRequest& request) override;
    void RepaintNow() override;
    std::uint8_t GetKeyBits() const override { return keyBits_; }
    void SetKeyBits(std::uint8_t value) override { keyBits_ = value; }
    bool IsKeyReleased() const override { return keyReleased_; }

    CCorvaneDoc* GetDocument() const { return document_; }
    CPanelLink& link() { return link_; }
    const QImage& panelImage() const { return panelImage_; }
    const QImage& displayImage() const { return displayImage_; }
    bool IsTimerRunning() const { return timerId_ != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void OnLButtonDown(QPoint point);
    void OnLButtonUp();

    CCorvaneDoc* document_;
    QImage displayImage_;
    QRect displayRect_;
    QImage panelImage_;
    QRect clientRect_;
    CPanelLink link_;
    std::uint8_t keyBits_ = 0;
    bool keyReleased_ = false;
    int timerId_ = 0;
};

} // namespace quillon

// Small round on/off indicators: TSpotIndicator, a 3D spot (whether a
// certificate is valid), and TLamp, a flat lamp (elevated rights). Colours
// are TColor values (0x00BBGGRR).
#pragma once

#include "core/WindowServices.h"

#include <QWidget>

namespace vl {

class TCustomIndicator : public QWidget {
    Q_OBJECT
public:
    explicit TCustomIndicator(QWidget *AParent = nullptr);

    TColor ColorOff() const { return FColorOff; }
    void SetColorOff(TColor AValue);
    TColor ColorOn() const { return FColorOn; }
    void SetColorOn(TColor AValue);
    bool Indicate() const { return FIndicate; }
    void SetIndicate(bool AValue);

    QSize sizeHint() const override { return {16, 16}; }

protected:
    // Repaints when enabled or disabled.
    void changeEvent(QEvent *AEvent) override;

private:
    TColor FColorOff = 0x000000;
    TColor FColorOn = 0xFFFFFF;
    bool FIndicate = false;
};

class TSpotIndicator : public TCustomIndicator {
    Q_OBJECT
public:
    explicit TSpotIndicator(QWidget *AParent = nullptr);

    // Inset of the spot inside its ring.
    int Border() const { return FBorder; }
    void SetBorder(int AValue);

protected:
    void paintEvent(QPaintEvent *AEvent) override;

private:
    int FBorder = 2;
};

class TLamp : public TCustomIndicator {
    Q_OBJECT
public:
    explicit TLamp(QWidget *AParent = nullptr);

    bool LightOn() const { return Indicate(); }
    void SetLightOn(bool AValue) { SetIndicate(AValue); }

protected:
    void paintEvent(QPaintEvent *AEvent) override;
};

} // namespace vl

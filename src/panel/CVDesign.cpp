#include "panel/CVDesign.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <cmath>

static void initPanelIcons() { Q_INIT_RESOURCE(panel_icons); }

namespace corvane::panel {

namespace {

const char* const roleProperty = "cvRole";
const char* const toneProperty = "cvTone";

// Relative luminance and contrast ratio as the accessibility guidelines define them.
qreal luminance(const QColor& c) {
    const auto channel = [](qreal v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

qreal contrast(const QColor& a, const QColor& b) {
    const qreal la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// A card's fill as it shows over the window (the card's style sheet paints the secondary colour at
// 8 %). Text that reads on it also reads on the bare window, which is further from the text's
// colour in a light and in a dark palette alike.
QColor cardFill(const QPalette& palette) {
    return CVDesign::blend(CVDesign::secondary(palette), palette.color(QPalette::Window), 0.08);
}

QString rgba(const QColor& c, qreal alpha) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(alpha);
}

// A step of the type scale, in pixels. The desktop's font is the body size; the other steps keep the
// proportion they have to a 13 px body (title 15, caption 11, micro 10), so the whole scale follows a
// desktop that asks for larger or smaller text. Nothing drops below 9 px, where text stops reading.
int bodyPixels() { return QFontInfo(QApplication::font()).pixelSize(); }

QFont scaled(int stepOfThirteen, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setPixelSize(qMax(9, qRound(bodyPixels() * stepOfThirteen / 13.0)));
    // A desktop font that names its style ("Regular", "Book", as qt6ct writes it) would be matched
    // by that name, whatever weight is asked: the step's weight decides instead.
    f.setStyleName(QString());
    f.setWeight(weight);
    return f;
}

// Text of a disabled control, as the desktop draws its own; faded where the palette gives no such
// colour.
QColor disabledText(const QPalette& palette) {
    const QColor off = palette.color(QPalette::Disabled, QPalette::ButtonText);
    if (off != palette.color(QPalette::Active, QPalette::ButtonText))
        return off;
    return CVDesign::blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.4);
}

void setForeground(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    p.setColor(QPalette::ButtonText, color);
    w->setPalette(p);
}

// The palette the tree was given by its window or the application, before any modifier touched
// it: the nearest ancestor that is not itself restyled decides.
QPalette basePalette(const QWidget* w) {
    const QWidget* top = w;
    while (top->parentWidget() && !top->isWindow())
        top = top->parentWidget();
    return top->palette();
}

} // namespace

QColor CVDesign::accent(const QPalette& palette) {
    return isDark(palette) ? QColor(123, 134, 245) : QColor(91, 103, 241);
}

QColor CVDesign::accentText(const QPalette& palette) {
    return readableOn(isDark(palette) ? QColor(150, 160, 250) : QColor(64, 74, 214), cardFill(palette));
}

QColor CVDesign::accentFill() { return QColor(76, 86, 226); }

bool CVDesign::isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor CVDesign::primary(const QPalette& palette) { return palette.color(QPalette::WindowText); }

QColor CVDesign::secondary(const QPalette& palette) {
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.66);
}

QColor CVDesign::red(const QPalette& palette) {
    return readableOn(isDark(palette) ? QColor(255, 120, 110) : QColor(185, 26, 22), cardFill(palette));
}

QColor CVDesign::blend(const QColor& top, const QColor& bottom, qreal topAmount) {
    const qreal b = 1.0 - topAmount;
    return QColor::fromRgbF(float(top.redF() * topAmount + bottom.redF() * b),
                            float(top.greenF() * topAmount + bottom.greenF() * b),
                            float(top.blueF() * topAmount + bottom.blueF() * b));
}

QColor CVDesign::readableOn(const QColor& ink, const QColor& background, qreal ratio) {
    // A little over the ratio, so the colour still reads once its channels are rounded.
    const qreal wanted = ratio + 0.1;
    if (contrast(ink, background) >= wanted)
        return ink;
    const QColor toward = contrast(Qt::white, background) >= contrast(Qt::black, background) ? QColor(Qt::white)
                                                                                             : QColor(Qt::black);
    // The least mix towards white or black that reads; the hue stays recognisable.
    qreal low = 0, high = 1;
    for (int step = 0; step < 12; ++step) {
        const qreal mid = (low + high) / 2;
        (contrast(blend(toward, ink, mid), background) >= wanted ? high : low) = mid;
    }
    return blend(toward, ink, high);
}

QColor CVDesign::background(const QPalette& palette) { return palette.color(QPalette::Window); }

QColor CVDesign::hairline(const QPalette& palette) {
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), isDark(palette) ? 0.28 : 0.18);
}

double CVDesign::sizeScale() { return qMax(1.0, bodyPixels() / 13.0); }

QColor CVDesign::fieldEdge(const QPalette& palette) { return readableOn(hairline(palette), background(palette), 3.0); }

QFont CVDesign::TypeScale::title() { return scaled(15, QFont::DemiBold); }
QFont CVDesign::TypeScale::headline() { return scaled(13, QFont::Medium); }
QFont CVDesign::TypeScale::body() { return scaled(13, QFont::Normal); }
QFont CVDesign::TypeScale::caption() { return scaled(11, QFont::Normal); }
QFont CVDesign::TypeScale::micro() { return scaled(10, QFont::Normal); }

QFont CVDesign::TypeScale::sized(int pxAtThirteen, QFont::Weight weight) {
    QFont font = body();
    font.setPixelSize(qMax(9, qRound(font.pixelSize() * pxAtThirteen / 13.0)));
    font.setWeight(weight);
    return font;
}

int CVDesign::scaledLength(int atThirteen) { return qRound(atThirteen * TypeScale::body().pixelSize() / 13.0); }

void CVDesign::cvBrandTint(QWidget* widget) {
    widget->setProperty(roleProperty, QStringLiteral("brandTint"));
    apply(widget);
}

void CVDesign::cvSectionLabel(QWidget* widget) {
    widget->setProperty(roleProperty, QStringLiteral("sectionLabel"));
    apply(widget);
}

void CVDesign::cvMicroNote(QWidget* widget) {
    widget->setProperty(roleProperty, QStringLiteral("microNote"));
    apply(widget);
}

void CVDesign::cvCardTitle(QWidget* widget) {
    widget->setProperty(roleProperty, QStringLiteral("cardTitle"));
    apply(widget);
}

void CVDesign::cvCard(QFrame* frame) {
    frame->setProperty(roleProperty, QStringLiteral("card"));
    frame->setContentsMargins(space4, space4, space4, space4);
    frame->setSizePolicy(QSizePolicy::Expanding, frame->sizePolicy().verticalPolicy());
    apply(frame);
}

void CVDesign::cvProminentButton(QPushButton* button) {
    button->setProperty(roleProperty, QStringLiteral("prominent"));
    apply(button);
}

void CVDesign::cvPlainButton(QAbstractButton* button, Tone tone) {
    button->setProperty(roleProperty, QStringLiteral("plain"));
    button->setProperty(toneProperty, tone == Tone::Accent ? QStringLiteral("accent") : QStringLiteral("secondary"));
    apply(button);
}

void CVDesign::refresh(QWidget* root) {
    apply(root);
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* w : children)
        apply(w);
}

void CVDesign::apply(QWidget* w) {
    const QString role = w->property(roleProperty).toString();
    if (role.isEmpty())
        return;
    const QPalette base = basePalette(w);
    if (role == QLatin1String("brandTint")) {
        QPalette p = w->palette();
        p.setColor(QPalette::Highlight, accentFill());
        p.setColor(QPalette::HighlightedText, Qt::white);
        p.setColor(QPalette::Link, accentText(base));
        w->setPalette(p);
    } else if (role == QLatin1String("sectionLabel")) {
        QFont f = TypeScale::caption();
        f.setWeight(QFont::DemiBold);
        w->setFont(f);
        setForeground(w, secondary(base));
    } else if (role == QLatin1String("microNote")) {
        w->setFont(TypeScale::micro());
        setForeground(w, secondary(base));
    } else if (role == QLatin1String("cardTitle")) {
        // Above the form's labels, which are in the desktop's font: never smaller than they are.
        QFont f = TypeScale::headline();
        f.setPixelSize(qMax(f.pixelSize(), QFontInfo(QApplication::font()).pixelSize() + 1));
        f.setWeight(QFont::DemiBold);
        w->setFont(f);
        setForeground(w, primary(base));
    } else if (role == QLatin1String("card")) {
        w->setStyleSheet(QStringLiteral("QFrame[cvRole=\"card\"] { background: %1; border: 1px solid %2; "
                                        "border-radius: %3px; }")
                             .arg(rgba(secondary(base), 0.08), rgba(primary(base), 0.05))
                             .arg(radiusL));
    } else if (role == QLatin1String("prominent")) {
        const QColor a = accentFill();
        w->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none; "
                                        "border-radius: 5px; padding: 3px 10px; }"
                                        "QPushButton:pressed { background: %2; }")
                             .arg(a.name(), a.darker(120).name()));
    } else if (role == QLatin1String("plain")) {
        const bool accentTone = w->property(toneProperty).toString() == QLatin1String("accent");
        const QColor c = accentTone ? accentText(base) : secondary(base);
        const QColor off = disabledText(base);
        // A pixel above and below the text: some fonts draw descenders below their descent.
        w->setStyleSheet(QStringLiteral("QAbstractButton { background: transparent; border: none; color: %1; "
                                        "padding: 1px %2px; }"
                                        "QAbstractButton:pressed { color: %3; }"
                                        "QAbstractButton:disabled { color: %4; }")
                             .arg(c.name())
                             .arg(space1)
                             .arg(c.darker(140).name(), off.name()));
        setForeground(w, c);
        QPalette p = w->palette();
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            p.setColor(QPalette::Disabled, role, off);
        w->setPalette(p);
    }
}

QPixmap CVDesign::icon(const QString& name, const QColor& color, int size, qreal devicePixelRatio) {
    static const bool loaded = (initPanelIcons(), true);
    Q_UNUSED(loaded);
    const int px = qMax(1, qRound(size * devicePixelRatio));
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/corvane/panel/%1.svg").arg(name));
    if (renderer.isValid()) {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p, QRectF(0, 0, px, px));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pm.rect(), color);
    }
    pm.setDevicePixelRatio(devicePixelRatio);
    return pm;
}

} // namespace corvane::panel

#include "AppLook.h"

#include "AppTexts.h"
#include "CommandIds.h"
#include "OptionsStore.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleOption>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>

namespace AppLook {

unsigned Stored()
{
    QSettings s = AppSettingsFile();
    bool ok = false;
    const qlonglong v = s.value(QLatin1String(Opt::ApplicationLook)).toString().toLongLong(&ok);
    return ok && v >= 0 && v <= 0xFFFFFFFFLL ? unsigned(v) : unsigned(Cmd::LookOffice2007Blue);
}

void Store(unsigned id)
{
    COptionsStore::WriteOutsideSection(QLatin1String(Opt::ApplicationLook), id);
}

unsigned Next(unsigned id)
{
    const unsigned next = id + 1;
    return next > unsigned(Cmd::LookLast) ? unsigned(Cmd::LookOffice2007Blue) : next;
}

QString MenuText(unsigned id)
{
    static const char* const texts[] = {"Windows &2000", "Office &XP", "&Windows XP", "Office 200&3",
                                        "Visual Studio.NET 200&5", "Office 2007 (&Blue Style)",
                                        "Office 2007 (B&lack Style)", "Office 2007 (&Silver Style)",
                                        "Office 2007 (&Aqua Style)"};
    return id >= unsigned(Cmd::LookFirst) && id <= unsigned(Cmd::LookLast) ? QString::fromUtf8(texts[id - Cmd::LookFirst])
                                                                         : QString();
}

}  // namespace AppLook

namespace {

struct CScheme {
    const char* style;
    QRgb window, button, base, alternate, text, highlight, highlightedText, tip;
};

// Nine looks that can be told apart at a glance; the text always contrasts with its background.
const CScheme kSchemes[] = {
    {"Windows", 0xd4d0c8, 0xd4d0c8, 0xffffff, 0xf4f2ee, 0x000000, 0x0a246a, 0xffffff, 0xffffe1},  // Windows 2000
    {"Fusion", 0xf0f0f4, 0xdcdce8, 0xffffff, 0xf5f5fa, 0x000000, 0x316ac5, 0xffffff, 0xffffe1},   // Office XP
    {"Fusion", 0xece9d8, 0xf3f1e6, 0xffffff, 0xf7f6ef, 0x000000, 0x316ac5, 0xffffff, 0xffffe1},   // Windows XP
    {"Fusion", 0xc4daf9, 0xd6e6fb, 0xffffff, 0xeef4fd, 0x000000, 0xfbd58a, 0x000000, 0xfff7d6},   // Office 2003
    {"Fusion", 0xeeede5, 0xf5f4ee, 0xffffff, 0xf8f8f3, 0x000000, 0xc1d2ee, 0x000000, 0xffffe1},   // Visual Studio 2005
    {"Fusion", 0xd5e4f2, 0xc2d9f0, 0xffffff, 0xeef5fc, 0x000000, 0x1f6fc5, 0xffffff, 0xfff8d8},   // Office 2007 blue
    {"Fusion", 0x353535, 0x454545, 0x262626, 0x2e2e2e, 0xe8e8e8, 0xff9c00, 0x000000, 0x4a4636},   // Office 2007 black
    {"Fusion", 0xdfe3ea, 0xd0d4dc, 0xffffff, 0xf2f4f7, 0x000000, 0x5d6a7b, 0xffffff, 0xfff8d8},   // Office 2007 silver
    {"Fusion", 0xd7ebec, 0xc0e0e3, 0xffffff, 0xeef8f8, 0x000000, 0x147880, 0xffffff, 0xfff8d8},   // Office 2007 aqua
};

unsigned g_scheme = Cmd::LookOffice2007Blue;

// Check boxes with an outline in the text colour: on dark looks the style's
// own outline is nearly the colour of the base.
class CClearCheckStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element != PE_IndicatorCheckBox && element != PE_IndicatorItemViewItemCheck)
            return;
        painter->save();
        QColor outline = option->palette.color(QPalette::Text);
        outline.setAlpha(170);
        painter->setPen(outline);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
};

}  // namespace

namespace AppLook {

void ApplyStyle(unsigned id)
{
    const bool known = id >= unsigned(Cmd::LookFirst) && id <= unsigned(Cmd::LookLast);
    if (known && id >= unsigned(Cmd::LookOffice2007Blue))
        g_scheme = id;
    const CScheme& s = kSchemes[(known ? id : g_scheme) - Cmd::LookFirst];
    if (QStyle* style = QStyleFactory::create(QLatin1String(s.style)))
        QApplication::setStyle(new CClearCheckStyle(style));
    QPalette p;
    p.setColor(QPalette::Window, QColor(s.window));
    p.setColor(QPalette::WindowText, QColor(s.text));
    p.setColor(QPalette::Button, QColor(s.button));
    p.setColor(QPalette::ButtonText, QColor(s.text));
    p.setColor(QPalette::Base, QColor(s.base));
    p.setColor(QPalette::AlternateBase, QColor(s.alternate));
    p.setColor(QPalette::Text, QColor(s.text));
    p.setColor(QPalette::Highlight, QColor(s.highlight));
    p.setColor(QPalette::HighlightedText, QColor(s.highlightedText));
    p.setColor(QPalette::ToolTipBase, QColor(s.tip));
    p.setColor(QPalette::ToolTipText, QColor(s.text));
    p.setColor(QPalette::PlaceholderText, QColor(s.text).lighter(160));
    const QColor disabled = QColor::fromRgb(s.text).value() > 128 ? QColor(s.window).lighter(180) : QColor(s.window).darker(170);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(QPalette::Disabled, role, disabled);
    QApplication::setPalette(p);
}

}  // namespace AppLook

#include "DlgSplash.h"

#include "OptionsStore.h"
#include "PathArray.h"
#include "Trash.h"
#include "TrashBatch.h"

#include "AppTexts.h"

#include <QGuiApplication>
#include <QScreen>

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QRandomGenerator>

namespace {

const QColor kBlue(0x1f, 0x4f, 0x9a);

// A light grey marble: soft noise smoothed by scaling, the same every time.
QPixmap Marble(int w, int h)
{
    QImage small(w / 8, h / 8, QImage::Format_RGB32);
    QRandomGenerator random(1234);
    for (int y = 0; y < small.height(); ++y) {
        for (int x = 0; x < small.width(); ++x) {
            const int v = 214 + int(random.bounded(26)) + int(8 * std::sin((x + y * 0.6) / 3.0));
            small.setPixel(x, y, qRgb(v, v, qMin(255, v + 4)));
        }
    }
    return QPixmap::fromImage(small.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

}  // namespace

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/sorvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

CDlgSplash::CDlgSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("splash"));
    setWindowTitle(QStringLiteral("%1 Loading...").arg(Res::AppTitle()));
    setFixedSize(kWidth, kHeight);
    // It takes no input: start-up goes on underneath and nothing can be clicked away.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Centred on the screen (where the platform lets a program place its windows).
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));

    m_picture = Marble(kWidth, kHeight);
    QPainter p(&m_picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.drawPixmap(16, 14, AppIcon().pixmap(48, 48));
    QFont title(font().family(), 15, QFont::Bold);
    p.setFont(title);
    p.setPen(kBlue);
    p.drawText(QRect(76, 14, kWidth - 90, 48), Qt::AlignVCenter | Qt::AlignLeft, Res::AppTitle());
    QFont loading(font().family(), 34, QFont::Bold);
    p.setFont(loading);
    p.drawText(QRect(0, 70, kWidth, kHeight - 80), Qt::AlignCenter, QStringLiteral("Loading…"));
    p.setPen(QPen(kBlue.lighter(150), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1, 1, kWidth - 2, kHeight - 2));
}

void CDlgSplash::paintEvent(QPaintEvent*)
{
    QPainter(this).drawPixmap(0, 0, m_picture);
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("about"));
    setWindowTitle(QStringLiteral("About Sorvane"));
    auto* grid = new QGridLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(48, 48));
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    // What a user may need to know: the version, where their settings and the Undo record live, the licence.
    const QByteArray record = TrashBatch::RecordFile();
    auto* text = new QLabel(QStringLiteral("Sorvane, Version %1\n\nSettings: %2\nUndo record of the last batch sent to "
                                           "the trash: %3\nTrash: %4\n\nLicence: proprietary; all rights reserved by "
                                           "Trellane.")
                                .arg(QLatin1String(Res::kAppVersion), AppSettingsPath(),
                                     EscapePath(std::string_view(record.constData(), size_t(record.size()))),
                                     EscapePath(HomeTrashFolder().toStdString())),
                            this);
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setObjectName(QStringLiteral("aboutText"));
    grid->addWidget(text, 0, 1, Qt::AlignTop);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    grid->addWidget(buttons, 1, 1, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(1, 1);
    resize(560, 220);
}

#include "FiltersDlg.h"

#include "AppTexts.h"
#include "ListingStatus.h"
#include "OptionsStore.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

// Sizes read as bytes; an empty field or 0 is no limit.
uint64_t StoredSize(const COptionsStore::CValues& values, const char* name)
{
    QString text;
    values.ReadString(QLatin1String(name), QString(), text);
    uint64_t bytes = 0;
    QString unused;
    return FileFilters::ParseSize(text, &bytes, &unused) ? bytes : 0;
}

QString Stored(uint64_t bytes)
{
    return bytes ? QString::number(bytes) : QString();
}

}  // namespace

CFiltersDlg::CFiltersDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("filtersDialog"));
    setWindowTitle(QStringLiteral("Filters - %1").arg(Res::AppTitle()));
    const COptionsStore::CValues values = COptionsStore().Values();

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral("What the listing leaves out. Sizes take KB, MB or GB (1024-based); an empty "
                                            "field is no limit."), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    m_minimum = AddSizeRow(form, StoredSize(values, Opt::MinimumFileSize), QStringLiteral("minimumSize"),
                           QStringLiteral("Minimum Size"), QStringLiteral("no limit, e.g. 1 KB"), QStringLiteral("Mi&nimum size:"),
                           &m_minimumProblem);
    m_maximum = AddSizeRow(form, StoredSize(values, Opt::MaximumFileSize), QStringLiteral("maximumSize"),
                           QStringLiteral("Maximum Size"), QStringLiteral("no limit, e.g. 2 GB"), QStringLiteral("Ma&ximum size:"),
                           &m_maximumProblem);

    QString names;
    values.ReadString(QLatin1String(Opt::SkipNames), QString(), names);
    m_names = new QPlainTextEdit(names, this);
    m_names->setObjectName(QStringLiteral("skipNames"));
    m_names->setAccessibleName(QStringLiteral("Skip Names"));
    m_names->setAccessibleDescription(QStringLiteral("One pattern a line, matched against file and folder names: *.tmp, .git"));
    m_names->setToolTip(m_names->accessibleDescription());
    m_names->setTabChangesFocus(true);
    m_names->setFixedHeight(m_names->fontMetrics().lineSpacing() * 6 + 12);
    m_namesProblem = ProblemLabel(QStringLiteral("Skip Names Problem"));
    form->addRow(QStringLiteral("&Skip names:"), m_names);
    form->addRow(QString(), m_namesProblem);

    m_skipEmpty = new QCheckBox(QStringLiteral("Skip &empty files"), this);
    m_skipEmpty->setObjectName(QStringLiteral("skipEmptyFiles"));
    m_skipEmpty->setAccessibleName(QStringLiteral("Skip Empty Files"));
    m_skipEmpty->setChecked(values.IsOn(Opt::SkipEmptyFiles));
    form->addRow(QString(), m_skipEmpty);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFiltersDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CFiltersDlg::reject);
    layout->addWidget(buttons);
    resize(QSize(460, sizeHint().height()));
}

QLineEdit* CFiltersDlg::AddSizeRow(QFormLayout* form, uint64_t bytes, const QString& objectName, const QString& name,
                                   const QString& placeholder, const QString& label, QLabel** problem)
{
    auto* edit = new QLineEdit(SizeField(bytes), this);
    edit->setObjectName(objectName);
    edit->setAccessibleName(name);
    edit->setPlaceholderText(placeholder);
    *problem = ProblemLabel(name + QStringLiteral(" Problem"));
    form->addRow(label, edit);
    form->addRow(QString(), *problem);
    return edit;
}

QLabel* CFiltersDlg::ProblemLabel(const QString& name)
{
    auto* label = new QLabel(this);
    label->setAccessibleName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #c0392b"));  // reads on light and dark looks
    label->hide();
    return label;
}

bool CFiltersDlg::Check(CFileFilters* filters)
{
    CFileFilters read;
    auto say = [](QLabel* label, const QString& problem) {
        label->setText(problem);
        label->setAccessibleDescription(problem);
        label->setVisible(!problem.isEmpty());
    };
    QString minimumWhy, maximumWhy, namesWhy;
    const bool minimumOk = FileFilters::ParseSize(m_minimum->text(), &read.minimumSize, &minimumWhy);
    const bool maximumOk = FileFilters::ParseSize(m_maximum->text(), &read.maximumSize, &maximumWhy);
    if (minimumOk && maximumOk && read.maximumSize > 0 && read.minimumSize > read.maximumSize)
        maximumWhy = QStringLiteral("The maximum is below the minimum (%1).").arg(ListingStatus::SizeText(read.minimumSize));
    const QStringList lines = m_names->toPlainText().split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size() && namesWhy.isEmpty(); ++i) {
        if (lines[i].isEmpty())
            continue;
        QString why;
        if (FileFilters::CheckPattern(lines[i], &why))
            read.skipNames.push_back(lines[i].toUtf8().toStdString());
        else
            namesWhy = QStringLiteral("Line %1 (%2): %3").arg(i + 1).arg(lines[i], why);
    }
    read.skipEmptyFiles = m_skipEmpty->isChecked();
    say(m_minimumProblem, minimumWhy);
    say(m_maximumProblem, maximumWhy);
    say(m_namesProblem, namesWhy);
    if (!minimumWhy.isEmpty())
        m_minimum->setFocus();
    else if (!maximumWhy.isEmpty())
        m_maximum->setFocus();
    else if (!namesWhy.isEmpty())
        m_names->setFocus();
    const bool ok = minimumWhy.isEmpty() && maximumWhy.isEmpty() && namesWhy.isEmpty();
    if (ok && filters)
        *filters = std::move(read);
    return ok;
}

QStringList CFiltersDlg::Problems() const
{
    QStringList problems;
    for (const QLabel* label : {m_minimumProblem, m_maximumProblem, m_namesProblem}) {
        if (!label->text().isEmpty() && !label->isHidden())
            problems << label->text();
    }
    return problems;
}

void CFiltersDlg::accept()
{
    CFileFilters filters;
    if (!Check(&filters))
        return;
    QStringList names;
    for (const std::string& name : filters.skipNames)
        names << QString::fromStdString(name);
    // A write that fails is told by the store's handler, in the main window's status bar.
    COptionsStore store;
    store.WriteString(QLatin1String(Opt::MinimumFileSize), Stored(filters.minimumSize));
    store.WriteString(QLatin1String(Opt::MaximumFileSize), Stored(filters.maximumSize));
    store.WriteString(QLatin1String(Opt::SkipNames), names.join(QLatin1Char('\n')));
    store.WriteInt(QLatin1String(Opt::SkipEmptyFiles.name), filters.skipEmptyFiles ? 1 : 0);
    QDialog::accept();
}

QString CFiltersDlg::SizeField(uint64_t bytes)
{
    if (bytes == 0)
        return {};
    const char* units[] = {"KB", "MB", "GB", "TB"};
    int unit = -1;
    while (unit < 3 && bytes % 1024 == 0) {
        bytes /= 1024;
        ++unit;
    }
    return unit < 0 ? QString::number(bytes) : QStringLiteral("%1 %2").arg(bytes).arg(QLatin1String(units[unit]));
}

QString CFiltersDlg::Summary(const CFileFilters& filters)
{
    if (!filters.AnyOn())
        return {};
    QStringList parts;
    if (filters.minimumSize > 0)
        parts << QStringLiteral("at least %1").arg(ListingStatus::SizeText(filters.minimumSize));
    if (filters.maximumSize > 0)
        parts << QStringLiteral("at most %1").arg(ListingStatus::SizeText(filters.maximumSize));
    if (filters.skipEmptyFiles)
        parts << QStringLiteral("no empty files");
    if (!filters.skipNames.empty()) {
        // A few names say enough; the dialog holds them all.
        constexpr size_t kNamed = 4;
        QStringList names;
        for (size_t i = 0; i < std::min(filters.skipNames.size(), kNamed); ++i)
            names << QString::fromUtf8(filters.skipNames[i].data(), int(filters.skipNames[i].size()));
        if (filters.skipNames.size() > kNamed)
            names << QStringLiteral("…");
        parts << QStringLiteral("skipping %1").arg(names.join(QStringLiteral(", ")));
    }
    return QStringLiteral("Filters: %1.").arg(parts.join(QStringLiteral(", ")));
}

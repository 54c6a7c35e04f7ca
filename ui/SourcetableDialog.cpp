#include "ui/SourcetableDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace
{
QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// "host:port", as the user knows the caster.
QString CasterName(const NtripCaster& caster)
{
    QString name = Text(NtripDisplayName(caster));
    if (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    return name;
}

QString DistanceText(const NtripStream& stream)
{
    if (!stream.distanceM)
        return {};
    char text[32];
    const double km = *stream.distanceM / 1000.0;
    std::snprintf(text, sizeof text, km < 10.0 ? "%.1f km" : "%.0f km", km);
    return QString::fromLatin1(text);
}
} // namespace

CSourcetableDialog::CSourcetableDialog(const NtripCaster& caster, std::optional<GeoPosition> position,
                                       QWidget* pParent)
    : QDialog(pParent), m_caster(caster), m_position(position)
{
    m_caster.mountpoint.clear();
    setWindowTitle(QStringLiteral("Choose a stream"));
    auto* layout = new QVBoxLayout(this);
    m_pStatus = new QLabel(QStringLiteral("Asking %1 for its streams\u2026").arg(CasterName(m_caster)), this);
    m_pStatus->setWordWrap(true);
    layout->addWidget(m_pStatus);
    m_pList = new QTreeWidget(this);
    m_pList->setHeaderLabels({QStringLiteral("Mountpoint"), QStringLiteral("Identifier"), QStringLiteral("Format"),
                              QStringLiteral("Systems"), QStringLiteral("Distance")});
    m_pList->setRootIsDecorated(false);
    m_pList->setUniformRowHeights(true);
    m_pList->header()->setStretchLastSection(false);
    layout->addWidget(m_pList);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_pOk = buttons->button(QDialogButtonBox::Ok);
    m_pOk->setEnabled(false);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pList, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_pOk->setEnabled(!SelectedMountpoint().empty()); });
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
    resize(620, 360);

    m_fetch = std::thread([this] {
        const SourcetableAnswer answer = FetchSourcetable(m_socket, m_caster, NtripVersion::V2);
        // Dropped when the dialog has gone meanwhile; its destructor joins this thread first.
        QMetaObject::invokeMethod(this, [this, answer] { OnAnswer(answer); }, Qt::QueuedConnection);
    });
}

CSourcetableDialog::~CSourcetableDialog()
{
    m_socket.Wake();
    if (m_fetch.joinable())
        m_fetch.join();
}

void CSourcetableDialog::OnAnswer(const SourcetableAnswer& answer)
{
    m_bAnswered = true;
    if (!answer.ok)
    {
        m_pStatus->setText(QStringLiteral("No streams from %1: %2")
                               .arg(CasterName(m_caster),
                                    Text(answer.reason.empty() ? std::string(kCasterNotAnswering) : answer.reason)));
        return;
    }
    m_streams = answer.streams;
    SortByDistance(m_streams, m_position ? std::optional(m_position->latitude) : std::nullopt,
                   m_position ? std::optional(m_position->longitude) : std::nullopt);
    for (const NtripStream& stream : m_streams)
    {
        auto* item = new QTreeWidgetItem(m_pList, {Text(stream.mountpoint), Text(stream.identifier),
                                                   Text(stream.format), Text(stream.systems), DistanceText(stream)});
        item->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (int column = 0; column < m_pList->columnCount(); ++column)
        m_pList->resizeColumnToContents(column);
    m_pStatus->setText(m_streams.empty() ? QStringLiteral("%1 lists no streams.").arg(CasterName(m_caster))
                       : m_position  ? QStringLiteral("Streams of %1, nearest first:").arg(CasterName(m_caster))
                                     : QStringLiteral("Streams of %1 (no fix yet to sort them by distance):")
                                           .arg(CasterName(m_caster)));
    if (!m_streams.empty())
        m_pList->setCurrentItem(m_pList->topLevelItem(0));
}

QString CSourcetableDialog::StatusText() const
{
    return m_pStatus->text();
}

std::string CSourcetableDialog::SelectedMountpoint() const
{
    const QTreeWidgetItem* item = m_pList->currentItem();
    return item ? item->text(0).toStdString() : std::string();
}

std::optional<std::string> ChooseMountpoint(QWidget* pOwner, const NtripCaster& caster,
                                            std::optional<GeoPosition> position)
{
    CSourcetableDialog dialog(caster, position, pOwner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const std::string mountpoint = dialog.SelectedMountpoint();
    if (mountpoint.empty())
        return std::nullopt;
    return mountpoint;
}

#include "ui/history/HistoryPane.h"

#include "core/Config.h"
#include "history/AppIcon.h"
#include "history/HistoryModel.h"
#include "storage/ClientManager.h"
#include "ui/history/LoadingIndicator.h"
#include "ui/widgets/FlatButton.h"
#include "ui/widgets/Palette.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int RowHeight = 60;
constexpr int ShowDelayMs = 1000;
constexpr int DeselectDelayMs = 300;

enum Role { VersionRole = Qt::UserRole + 1, LinkRole, IconRole };

const QColor HoverColour = QColor::fromRgbF(0.227f, 0.341f, 0.604f);

// One row: icon on the left, name and "(version)" on the first line, the public link below, a grey
// line along the bottom and the hover fill while the pointer is inside.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), RowHeight};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        const QRect r = option.rect;
        const bool hover = option.state & QStyle::State_MouseOver;
        if (hover)
            p->fillRect(r, HoverColour);
        p->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), Palette::hairline(option.palette));

        const QRect iconRect(r.left() + 12, r.top() + 10, 40, 40);
        const QImage icon = index.data(IconRole).value<QImage>();
        if (!icon.isNull()) {
            QPainterPath clip;
            clip.addRoundedRect(iconRect, 9, 9);
            p->setClipPath(clip);
            p->drawImage(iconRect, icon);
            p->setClipping(false);
        }

        const QColor text = hover ? QColor(Qt::white) : option.palette.color(QPalette::Text);
        const QColor secondary =
            hover ? QColor(225, 232, 245) : option.palette.color(QPalette::PlaceholderText);
        const int left = iconRect.right() + 12;
        const int width = r.right() - left - 8;

        QFont title = option.font;
        title.setPointSizeF(13);
        title.setWeight(QFont::DemiBold);
        const QString name = index.data(Qt::DisplayRole).toString();
        const QString version = QLatin1Char('(') + index.data(VersionRole).toString() + QLatin1Char(')');
        QFontMetrics fm(title);
        const QString shownName = fm.elidedText(name, Qt::ElideRight, width * 2 / 3);
        p->setFont(title);
        p->setPen(text);
        const QRect titleRect(left, r.top() + 9, width, fm.height());
        p->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter, shownName);

        QFont sub = option.font;
        sub.setPointSizeF(11);
        p->setFont(sub);
        p->setPen(secondary);
        const int afterName = left + fm.horizontalAdvance(shownName) + 6;
        p->drawText(QRect(afterName, titleRect.top(), r.right() - afterName - 8, fm.height()),
                    Qt::AlignLeft | Qt::AlignVCenter, version);

        QFontMetrics sm(sub);
        p->drawText(QRect(left, titleRect.bottom() + 4, width, sm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                    sm.elidedText(index.data(LinkRole).toString(), Qt::ElideMiddle, width));
        p->restore();
    }
};

QToolButton* glyphButton(const QString& glyph, const QString& tip, const QString& objectName) {
    auto* button = new QToolButton;
    button->setText(glyph);
    button->setToolTip(tip);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    QFont f = button->font();
    f.setPointSizeF(16);
    button->setFont(f);
    button->setFixedSize(30, 30);
    return button;
}

} // namespace

HistoryPane::UserSource HistoryPane::storageUserSource() {
    return [](QObject* context, std::function<void(const ZUser&)> onUser,
              std::function<void(const QString&)> onFailure) {
        std::unique_ptr<ClientManager> client = makeStorageClient();
        ClientManager* raw = client.release();
        raw->setParent(context); // lives as long as the refresh that asked
        // Storage clients may answer on other threads; views are touched on the main thread only.
        raw->onFailure = [context, onFailure](const QString& reason) {
            QMetaObject::invokeMethod(context, [onFailure, reason] { onFailure(reason); });
        };
        raw->getUserData([context, onUser](const ZUser& user) {
            QMetaObject::invokeMethod(context, [onUser, user] { onUser(user); });
        });
    };
}

HistoryPane::HistoryPane(QWidget* parent) : HistoryPane(Zelko::api(), storageUserSource(), parent) {}

HistoryPane::HistoryPane(BackendApi backend, UserSource users, QWidget* parent)
    : QWidget(parent), m_backend(std::move(backend)), m_users(std::move(users)) {
    auto* title = new QLabel(QStringLiteral("Vantry"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(18);
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    m_settingsButton =
        glyphButton(QStringLiteral("\u2699"), QStringLiteral("Settings"), QStringLiteral("settings"));
    m_addButton = glyphButton(QStringLiteral("+"), QStringLiteral("New link"), QStringLiteral("add"));
    connect(m_settingsButton, &QToolButton::clicked, this, &HistoryPane::settingsRequested);
    connect(m_addButton, &QToolButton::clicked, this, &HistoryPane::addRequested);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 10, 8);
    header->addWidget(title);
    header->addStretch();
    header->addWidget(m_settingsButton);
    header->addWidget(m_addButton);

    auto* line = new QFrame;
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    line->setBackgroundRole(QPalette::Mid);

    m_model = new QStandardItemModel(this);
    m_list = new QListView;
    m_list->setModel(m_model);
    m_list->setItemDelegate(new RowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setMouseTracking(true);
    m_list->viewport()->setAttribute(Qt::WA_Hover);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (index.row() < 0 || index.row() >= m_apps.size())
            return;
        emit appChosen(m_apps.at(index.row()));
        QTimer::singleShot(DeselectDelayMs, m_list, [list = m_list] { list->clearSelection(); });
    });

    m_loader = new LoadingIndicator;
    m_loader->hide();
    m_errorLabel = new QLabel;
    m_errorLabel->setAlignment(Qt::AlignCenter);
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setForegroundRole(QPalette::PlaceholderText);
    m_errorLabel->hide();

    m_retryLine = new QWidget;
    auto* retryLayout = new QVBoxLayout(m_retryLine);
    m_retryText = new QLabel;
    m_retryText->setAlignment(Qt::AlignCenter);
    m_retryText->setWordWrap(true);
    auto* retry = new FlatButton(QStringLiteral("Retry"));
    retry->setKind(FlatButton::Kind::Secondary);
    m_retryButton = retry;
    retryLayout->addWidget(m_retryText);
    retryLayout->addWidget(m_retryButton, 0, Qt::AlignHCenter);
    m_retryLine->hide();
    connect(m_retryButton, &QPushButton::clicked, this, &HistoryPane::reload);

    // The animation and the messages sit over the list, centred, also after resizes.
    auto* body = new QGridLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(m_list, 0, 0);
    body->addWidget(m_loader, 0, 0, Qt::AlignCenter);
    body->addWidget(m_errorLabel, 0, 0, Qt::AlignCenter);
    body->addWidget(m_retryLine, 0, 0, Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(line);
    layout->addLayout(body, 1);

    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { showUnreachable(QStringLiteral("The Vantry server could not be reached.")); });
}

HistoryPane::~HistoryPane() = default;

bool HistoryPane::isLoading() const {
    return m_loader->isVisibleTo(this) && m_loader->isPlaying();
}

bool HistoryPane::isUnreachable() const {
    return m_retryLine->isVisibleTo(this);
}

QString HistoryPane::messageText() const {
    if (m_retryLine->isVisibleTo(this))
        return m_retryText->text();
    return m_errorLabel->isVisibleTo(this) ? m_errorLabel->text() : QString();
}

void HistoryPane::refresh() {
    delete m_request;
    m_request = new QObject(this);
    // The backend's own time-out, plus a little for the answer to travel back to us.
    m_deadline.start(Config::instance().intValue(ConfigKey::BackendRequestTimeoutSeconds) * 1000 + 500);
    startLoading();
    m_users(
        m_request,
        [this](const ZUser& user) {
            currentUser() = user;
            emit accountRead(user);
            startLoading();
            fetchApps(user.id);
        },
        [this](const QString&) {
            showUnreachable(QStringLiteral("Your storage account could not be reached."));
        });
}

void HistoryPane::reload() {
    if (currentUser().id.isEmpty()) {
        refresh();
        return;
    }
    delete m_request;
    m_request = new QObject(this);
    startLoading();
    fetchApps(currentUser().id);
}

void HistoryPane::fetchApps(const QString& userId) {
    m_deadline.start(Config::instance().intValue(ConfigKey::BackendRequestTimeoutSeconds) * 1000 + 500);
    QPointer<QObject> request = m_request;
    m_backend.fetchApps(
        userId,
        [this, request](const QList<Zapp>& apps) {
            if (request != m_request)
                return;
            m_deadline.stop();
            loadRecords(apps);
        },
        m_request);
}

void HistoryPane::startLoading() {
    m_retryLine->hide();
    m_errorLabel->hide();
    m_loader->show();
    m_loader->raise();
    m_loader->play();
}

void HistoryPane::loadRecords(const QList<Zapp>& apps) {
    m_apps = history::sortedNewestFirst(apps);
    // A newer refresh drops the pending show of an older answer.
    QTimer::singleShot(ShowDelayMs, m_request ? m_request.data() : this, [this] {
        m_loader->stop();
        m_loader->hide();
        setMessage(m_apps.isEmpty() ? QStringLiteral("No Previous Records") : QString());
        fillRows();
        QTimer::singleShot(DeselectDelayMs, m_list, [list = m_list] { list->clearSelection(); });
        emit recordsShown();
    });
}

void HistoryPane::showUnreachable(const QString& text) {
    m_retryText->setText(text);
    m_deadline.stop();
    delete m_request;
    m_loader->stop();
    m_loader->hide();
    m_errorLabel->hide();
    m_retryLine->show();
    m_retryLine->raise();
    emit serverUnreachable();
}

void HistoryPane::setMessage(const QString& text) {
    m_errorLabel->setText(text);
    m_errorLabel->setVisible(!text.isEmpty());
}

void HistoryPane::fillRows() {
    m_model->clear();
    for (const Zapp& app : m_apps) {
        auto* item = new QStandardItem(app.appname);
        item->setData(app.appversion, VersionRole);
        item->setData(history::publicLink(m_backend.baseUrl(), app.appid), LinkRole);
        item->setEditable(false);
        m_model->appendRow(item);
        QPersistentModelIndex index = m_model->indexFromItem(item);
        IconLoader::instance().load(app.appicon, m_model, [model = m_model, index](const QImage& image) {
            if (index.isValid())
                model->setData(index, image, IconRole);
        });
    }
}

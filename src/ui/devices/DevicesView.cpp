#include "ui/devices/DevicesView.h"

#include "app/ConnectionState.h"
#include "app/IDFormatter.h"
#include "app/PresenceManager.h"
#include "devices/DeviceBookManager.h"
#include "devices/DeviceConnect.h"
#include "ui/common/IDInput.h"
#include "ui/common/ListRows.h"
#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"
#include "ui/devices/RelativeTime.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace velmarin::ui {

namespace {

struct Presence {
    QString label;
    QColor color;
};

Presence presenceOf(std::optional<DeviceStatus> status) {
    switch (status.value_or(DeviceStatus::offline)) {
    case DeviceStatus::online:
        return {QStringLiteral("Online"), QColor(0x34, 0xc7, 0x59)};
    case DeviceStatus::busy:
        return {QStringLiteral("Bezet"), QColor(0xff, 0x95, 0x00)};
    case DeviceStatus::offline:
        break;
    }
    return {QStringLiteral("Offline"), QColor(0x8e, 0x8e, 0x93)};
}

} // namespace

DevicesView::DevicesView(ConnectionState& state, CommandBus& commands,
                         devices::DeviceBookManager& book, PresenceManager& presence,
                         secrets::SecretStore& secrets, Clock now, QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_commands(commands)
    , m_book(book)
    , m_presence(presence)
    , m_secrets(secrets)
    , m_now(now ? std::move(now) : Clock([] { return QDateTime::currentDateTimeUtc(); })) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 12);
    layout->setSpacing(12);
    layout->addWidget(buildHeader());

    auto* problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("devicesProblem"));
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #ff3b30;"));
    layout->addWidget(problem);
    const auto showProblem = [this, problem] {
        const Status status = m_state.status();
        problem->setVisible(status.kind() == Status::Kind::error);
        problem->setText(status.displayText());
    };
    connect(&m_state, &ConnectionState::statusChanged, problem, showProblem);
    showProblem();

    layout->addWidget(buildForm());
    m_emptyState = buildEmptyState();
    layout->addWidget(m_emptyState, 1);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("deviceList"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_list = new QWidget(m_scroll);
    m_rows = new QVBoxLayout(m_list);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(8);
    m_scroll->setWidget(m_list);
    layout->addWidget(m_scroll, 1);

    connect(&m_book, &devices::DeviceBookManager::devicesChanged, this, [this] {
        followBook();
        showDevices();
    });
    connect(&m_presence, &PresenceManager::statusesChanged, this, &DevicesView::showPresence);
    openForm(false);
    showDevices();
}

bool DevicesView::isFormValid() const {
    return IDFormatter::isComplete(m_newID->text()) && !m_newPassword->text().isEmpty();
}

QWidget* DevicesView::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(headingLabel(QStringLiteral("Mijn apparaten"), 17, header));
    titles->addWidget(
        secondaryLabel(QStringLiteral("Onbeheerde toegang — verbind met één klik"), 12, header));
    row->addLayout(titles, 1);
    m_formButton = textButton({}, header);
    m_formButton->setObjectName(QStringLiteral("formButton"));
    connect(m_formButton, &QPushButton::clicked, this, [this] {
        if (m_form->isVisible())
            resetForm();
        else
            openForm(true);
    });
    row->addWidget(m_formButton, 0, Qt::AlignTop);
    return header;
}

QWidget* DevicesView::buildForm() {
    m_form = new RoundedPanel(10, QPalette::AlternateBase, this);
    m_form->setObjectName(QStringLiteral("addForm"));
    auto* layout = new QVBoxLayout(m_form);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->addWidget(headingLabel(QStringLiteral("Nieuw apparaat"), 13, m_form));
    m_newName = new QLineEdit(m_form);
    m_newName->setPlaceholderText(QStringLiteral("Naam (bijv. Kantoor-iMac)"));
    m_newID = idInputField(QStringLiteral("Partner ID"), m_form);
    m_newPassword = new QLineEdit(m_form);
    m_newPassword->setPlaceholderText(QStringLiteral("Vast wachtwoord"));
    m_newPassword->setEchoMode(QLineEdit::Password);
    m_saveButton = textButton(QStringLiteral("Opslaan"), m_form);
    m_saveButton->setDefault(true);
    for (QLineEdit* field : {m_newName, m_newID, m_newPassword}) {
        layout->addWidget(field);
        connect(field, &QLineEdit::textChanged, this,
                [this] { m_saveButton->setEnabled(isFormValid()); });
        connect(field, &QLineEdit::returnPressed, this, &DevicesView::saveDevice);
    }
    layout->addWidget(m_saveButton, 0, Qt::AlignRight);
    connect(m_saveButton, &QPushButton::clicked, this, &DevicesView::saveDevice);
    m_saveButton->setEnabled(false);
    return m_form;
}

QWidget* DevicesView::buildEmptyState() {
    auto* view = new QWidget(this);
    view->setObjectName(QStringLiteral("emptyState"));
    auto* layout = new QVBoxLayout(view);
    layout->addStretch(1);
    layout->addWidget(symbolLabel(symbolIcon(Symbol::desktop), 40, view), 0, Qt::AlignHCenter);
    layout->addWidget(headingLabel(QStringLiteral("Nog geen apparaten"), 15, view), 0,
                      Qt::AlignHCenter);
    auto* hint = secondaryLabel(QStringLiteral("Voeg een apparaat toe met een vast wachtwoord\nom "
                                               "er onbeheerd mee te verbinden."),
                                12, view);
    hint->setAlignment(Qt::AlignCenter);
    layout->addWidget(hint, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return view;
}

QWidget* DevicesView::buildRow(const devices::SavedDevice& device) {
    auto* row = new HoverRow(m_list);
    row->setObjectName(QStringLiteral("device-") + device.hostID);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(10);

    Row parts;
    auto* presence = new QVBoxLayout;
    parts.dot = new StatusDot(row);
    presence->addWidget(parts.dot, 0, Qt::AlignHCenter);
    parts.status = secondaryLabel({}, 10, row);
    parts.status->setMinimumWidth(40);
    parts.status->setAlignment(Qt::AlignHCenter);
    presence->addWidget(parts.status);
    layout->addLayout(presence);
    m_rowByHostID.insert(device.hostID, parts);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    const QUuid id = device.id;
    if (m_editing == id) {
        auto* field = new QLineEdit(m_editingName, row);
        field->setObjectName(QStringLiteral("renameField"));
        field->setPlaceholderText(QStringLiteral("Naam"));
        connect(field, &QLineEdit::textEdited, this,
                [this](const QString& name) { m_editingName = name; });
        connect(field, &QLineEdit::returnPressed, this, [this, id] {
            m_editing.reset();
            m_book.rename(id, m_editingName); // the book redraws the list
        });
        text->addWidget(field);
        field->setFocus();
    } else {
        text->addWidget(headingLabel(device.name, 13, row));
    }
    const QString when = device.lastConnected
                             ? relativeDescription(*device.lastConnected, m_now())
                             : QStringLiteral("nog niet verbonden");
    text->addWidget(secondaryLabel(IDFormatter::format(device.hostID) + QStringLiteral(" · ") + when,
                                   11, row));
    layout->addLayout(text, 1);

    auto* actions = new QWidget(row);
    auto* actionRow = new QHBoxLayout(actions);
    actionRow->setContentsMargins(0, 0, 0, 0);
    if (m_deleteConfirmation == id) {
        actionRow->addWidget(deleteConfirmation(
            actions,
            [this, id] {
                m_deleteConfirmation.reset();
                m_book.remove(id);
            },
            [this] {
                m_deleteConfirmation.reset();
                showDevices();
            }));
    } else {
        auto* rename = iconButton(symbolIcon(Symbol::pencil), QStringLiteral("Hernoemen"), actions);
        rename->setObjectName(QStringLiteral("rename"));
        connect(rename, &QAbstractButton::clicked, this, [this, id, name = device.name] {
            m_editing = id;
            m_editingName = name;
            showDevices();
        });
        auto* remove = deleteButton(actions, [this, id] {
            m_deleteConfirmation = id;
            showDevices();
        });
        actionRow->addWidget(rename);
        actionRow->addWidget(remove);
        row->setHoverActions(actions);
    }
    layout->addWidget(actions);

    auto* connectButton = textButton(QStringLiteral("Verbinden"), row);
    connectButton->setIcon(symbolIcon(Symbol::link));
    connectButton->setObjectName(QStringLiteral("connect"));
    connect(connectButton, &QPushButton::clicked, this, [this, id] { connectTo(id); });
    layout->addWidget(connectButton);
    return row;
}

void DevicesView::openForm(bool open) {
    m_form->setVisible(open);
    m_formButton->setText(open ? QStringLiteral("Annuleer") : QStringLiteral("Apparaat toevoegen"));
    m_formButton->setIcon(symbolIcon(open ? Symbol::xmark : Symbol::plus));
    if (open)
        m_newName->setFocus();
}

void DevicesView::resetForm() {
    m_newName->clear();
    m_newID->clear();
    m_newPassword->clear();
    openForm(false);
}

void DevicesView::saveDevice() {
    if (!isFormValid())
        return;
    const QString name = m_newName->text().trimmed();
    const QString id = IDFormatter::normalize(m_newID->text());
    const QString password = m_newPassword->text();
    resetForm();
    m_book.add(name, id, password); // devicesChanged follows
}

void DevicesView::followBook() {
    if (!m_shown)
        return;
    const QStringList ids = m_book.hostIDs();
    // Nothing to ask about: stop, and forget the statuses of devices gone.
    if (ids.isEmpty())
        m_presence.stop();
    else
        m_presence.start(ids);
}

void DevicesView::showDevices() {
    m_rowByHostID.clear();
    clearRows(m_rows);
    const QList<devices::SavedDevice>& devices = m_book.devices();
    // A row whose device went away takes its edit or confirmation with it.
    const auto present = [&](const std::optional<QUuid>& id) {
        return id && std::any_of(devices.begin(), devices.end(),
                                 [&](const devices::SavedDevice& d) { return d.id == *id; });
    };
    if (!present(m_editing))
        m_editing.reset();
    if (!present(m_deleteConfirmation))
        m_deleteConfirmation.reset();
    for (const devices::SavedDevice& device : devices)
        m_rows->addWidget(buildRow(device));
    m_rows->addStretch(1);
    m_emptyState->setVisible(devices.isEmpty());
    m_scroll->setVisible(!devices.isEmpty());
    showPresence();
}

void DevicesView::showPresence() {
    for (auto it = m_rowByHostID.cbegin(); it != m_rowByHostID.cend(); ++it) {
        const auto found = m_presence.statuses().constFind(it.key());
        const Presence presence = presenceOf(found == m_presence.statuses().cend()
                                                 ? std::nullopt
                                                 : std::optional<DeviceStatus>(*found));
        it->dot->setColor(presence.color);
        it->status->setText(presence.label);
    }
}

void DevicesView::connectTo(const QUuid& id) {
    for (const devices::SavedDevice& device : m_book.devices()) {
        if (device.id == id) {
            devices::connectToDevice(device, m_state, m_commands, m_book, m_secrets);
            return;
        }
    }
}

void DevicesView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_shown = true;
    followBook();
    showDevices(); // the relative times move on while hidden
}

void DevicesView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_shown = false;
    m_presence.stop();
}

} // namespace velmarin::ui

#include "decoder_dialog.h"

#include "decoder_setup.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const QString NoLine = QStringLiteral("—");

QTableWidget* twoColumns(QWidget* parent, const char* name, const QString& first, const QString& second)
{
    auto* table = new QTableWidget(0, 2, parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels({first, second});
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return table;
}

// The text of a table's value cell: its chooser's or its editor's.
QString cellValue(const QTableWidget* table, int row)
{
    QWidget* cell = table->cellWidget(row, 1);
    if (const auto* choice = qobject_cast<QComboBox*>(cell))
        return choice->currentText();
    if (const auto* editor = qobject_cast<QLineEdit*>(cell))
        return editor->text();
    return {};
}
}

DecoderDialog::DecoderDialog(const QStringList& setups, QWidget* parent) : QDialog(parent), m_setups(setups)
{
    setObjectName(QStringLiteral("DecoderDialog"));
    setWindowTitle(QStringLiteral("Dekoder"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Dekoder auf der Aufzeichnung:"), this));
    Stacks = new QListWidget(this);
    Stacks->setObjectName(QStringLiteral("Stacks"));
    Stacks->setToolTip(QStringLiteral("The decoders that follow the record, each stack as velkaro-cli --decode takes it"));
    layout->addWidget(Stacks);
    RemoveButton = new QPushButton(QStringLiteral("Entfernen"), this);
    RemoveButton->setObjectName(QStringLiteral("RemoveButton"));
    RemoveButton->setToolTip(QStringLiteral("Remove the selected stack"));
    layout->addWidget(RemoveButton, 0, Qt::AlignLeft);
    connect(RemoveButton, &QPushButton::clicked, this, [this] {
        if (Stacks->currentRow() >= 0) {
            m_setups.removeAt(Stacks->currentRow());
            showSetups();
        }
    });

    auto* form = new QFormLayout;
    layout->addLayout(form);
    DecoderChoice = new QComboBox(this);
    DecoderChoice->setObjectName(QStringLiteral("DecoderChoice"));
    DecoderChoice->setToolTip(QStringLiteral("The protocol decoders installed (sigrok's libsigrokdecode)"));
    m_decoders = DecoderLibrary::instance().all();
    for (const DecoderInfo* decoder : m_decoders)
        DecoderChoice->addItem(QStringLiteral("%1 — %2").arg(QString::fromStdString(decoder->id), QString::fromStdString(decoder->longname)));
    form->addRow(QStringLiteral("Dekoder:"), DecoderChoice);
    StackedOn = new QComboBox(this);
    StackedOn->setObjectName(QStringLiteral("StackedOn"));
    StackedOn->setToolTip(QStringLiteral("The stack whose output this decoder reads"));
    form->addRow(QStringLiteral("Auf:"), StackedOn);
    Channels = twoColumns(this, "Channels", QStringLiteral("Kanal"), QStringLiteral("Leitung"));
    Channels->setToolTip(QStringLiteral("The line each channel of the decoder reads"));
    form->addRow(QStringLiteral("Kanäle:"), Channels);
    Options = twoColumns(this, "Options", QStringLiteral("Option"), QStringLiteral("Wert"));
    Options->setToolTip(QStringLiteral("The decoder's options, its defaults filled in"));
    form->addRow(QStringLiteral("Optionen:"), Options);
    AddButton = new QPushButton(QStringLiteral("Hinzufügen"), this);
    AddButton->setObjectName(QStringLiteral("AddButton"));
    AddButton->setToolTip(QStringLiteral("Add the decoder: a stack of its own, or on the chosen one"));
    layout->addWidget(AddButton, 0, Qt::AlignLeft);
    connect(AddButton, &QPushButton::clicked, this, [this] { add(); });
    Refusal = new QLabel(this);
    Refusal->setObjectName(QStringLiteral("Refusal"));
    Refusal->setWordWrap(true);
    layout->addWidget(Refusal);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(DecoderChoice, &QComboBox::currentIndexChanged, this, [this] { decoderChosen(); });
    showSetups();
    if (const DecoderInfo* uart = DecoderLibrary::instance().decoder("uart")) {
        const auto at = std::find(m_decoders.begin(), m_decoders.end(), uart);
        DecoderChoice->setCurrentIndex(at == m_decoders.end() ? 0 : static_cast<int>(at - m_decoders.begin()));
    }
    decoderChosen();
    resize(560, 600);
}

const DecoderInfo* DecoderDialog::chosenDecoder() const
{
    const int index = DecoderChoice->currentIndex();
    return index >= 0 && index < static_cast<int>(m_decoders.size()) ? m_decoders[static_cast<std::size_t>(index)] : nullptr;
}

void DecoderDialog::showSetups()
{
    Stacks->clear();
    Stacks->addItems(m_setups);
    StackedOn->clear();
    StackedOn->addItem(QStringLiteral("die Leitungen"));
    StackedOn->addItems(m_setups);
    RemoveButton->setEnabled(!m_setups.isEmpty());
}

void DecoderDialog::decoderChosen()
{
    const DecoderInfo* decoder = chosenDecoder();
    Channels->setRowCount(0);
    Options->setRowCount(0);
    if (!decoder)
        return;
    StackedOn->setCurrentIndex(decoder->takesLogic() ? 0 : std::min(1, StackedOn->count() - 1));
    StackedOn->setEnabled(!decoder->takesLogic());
    const auto addChannel = [this](const DecoderInfo::Channel& channel, bool optional) {
        const int row = Channels->rowCount();
        Channels->insertRow(row);
        auto* name = new QTableWidgetItem(QString::fromStdString(channel.id) + (optional ? QStringLiteral(" (optional)") : QString()));
        name->setToolTip(QString::fromStdString(channel.desc));
        name->setData(Qt::UserRole, QString::fromStdString(channel.id));
        Channels->setItem(row, 0, name);
        auto* line = new QComboBox(Channels);
        line->addItem(NoLine);
        for (const RegisterModel::Line& each : RegisterModel::Lines)
            line->addItem(QString::fromLatin1(each.name));
        Channels->setCellWidget(row, 1, line);
    };
    if (decoder->takesLogic()) {
        for (const DecoderInfo::Channel& channel : decoder->channels)
            addChannel(channel, false);
        for (const DecoderInfo::Channel& channel : decoder->optionalChannels)
            addChannel(channel, true);
    }
    for (const DecoderInfo::Option& option : decoder->options) {
        const int row = Options->rowCount();
        Options->insertRow(row);
        auto* name = new QTableWidgetItem(QString::fromStdString(option.id));
        name->setToolTip(QString::fromStdString(option.desc));
        Options->setItem(row, 0, name);
        if (option.values.empty()) {
            Options->setCellWidget(row, 1, new QLineEdit(QString::fromStdString(option.defaultValue), Options));
            continue;
        }
        auto* values = new QComboBox(Options);
        for (const std::string& value : option.values)
            values->addItem(QString::fromStdString(value));
        values->setCurrentText(QString::fromStdString(option.defaultValue));
        Options->setCellWidget(row, 1, values);
    }
}

QString DecoderDialog::chosenSetup() const
{
    const DecoderInfo* decoder = chosenDecoder();
    if (!decoder)
        return {};
    QString setup = QString::fromStdString(decoder->id);
    for (int row = 0; row < Channels->rowCount(); ++row)
        if (const QString line = cellValue(Channels, row); line != NoLine)
            setup += QStringLiteral(":%1=%2").arg(Channels->item(row, 0)->data(Qt::UserRole).toString(), line);
    // Only the options changed from their defaults: the text stays short and reads as typed.
    for (int row = 0; row < Options->rowCount(); ++row) {
        const DecoderInfo::Option& option = decoder->options[static_cast<std::size_t>(row)];
        if (const QString value = cellValue(Options, row); value.toStdString() != option.defaultValue)
            setup += QStringLiteral(":%1=%2").arg(QString::fromStdString(option.id), value);
    }
    const int on = StackedOn->currentIndex();
    return on > 0 && !decoder->takesLogic() ? m_setups[on - 1] + QLatin1Char(',') + setup : setup;
}

bool DecoderDialog::add()
{
    const QString setup = chosenSetup();
    const auto stack = ReadDecoderStack(setup.toStdString(), DecoderLibrary::instance());
    if (const auto* fault = std::get_if<std::string>(&stack)) {
        Refusal->setText(QString::fromStdString(*fault));
        return false;
    }
    Refusal->clear();
    const int on = StackedOn->currentIndex();
    if (on > 0 && !chosenDecoder()->takesLogic())
        m_setups[on - 1] = setup;
    else
        m_setups << setup;
    showSetups();
    return true;
}

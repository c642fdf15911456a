// SPDX-License-Identifier: MIT
#include "setcom.h"
#include "warningbox.h"

#include "numberreader.h"
#include "ui_setcom.h"

#include <QKeyEvent>

namespace {

bool inRange(quint8 port)
{
    return port >= 1 && port <= 99;
}

} // namespace

SetCOM::SetCOM(quint8 initialPort, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::SetCOM>())
    , m_initialPort(initialPort)
{
    // The stored "5" is set up here, before txtNRcom_Change listens: no warning on opening.
    m_ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);

    connect(m_ui->SetCOM1, &QRadioButton::clicked, this, &SetCOM::SetCOM1_Click);
    connect(m_ui->SetCOM2, &QRadioButton::clicked, this, &SetCOM::SetCOM2_Click);
    connect(m_ui->SetCOM3, &QRadioButton::clicked, this, &SetCOM::SetCOM3_Click);
    connect(m_ui->SetCOM4, &QRadioButton::clicked, this, &SetCOM::SetCOM4_Click);
    connect(m_ui->SetCOMx, &QRadioButton::clicked, this, &SetCOM::SetCOMx_Click);
    connect(m_ui->txtNRcom, &QLineEdit::textChanged, this, &SetCOM::txtNRcom_Change);
    connect(m_ui->cmdZapisz, &QPushButton::clicked, this, &SetCOM::cmdZapisz_Click);
    connect(m_ui->cmdZastosuj, &QPushButton::clicked, this, &SetCOM::cmdZastosuj_Click);
    connect(m_ui->cmdAnuluj, &QPushButton::clicked, this, &SetCOM::cmdAnuluj_Click);

    Form_Load();
}

SetCOM::~SetCOM() = default;

// The dialog has no cancel button: Escape does not close it.
void SetCOM::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel))
        return;
    QDialog::keyPressEvent(event);
}

void SetCOM::Form_Load()
{
    m_portComNR = m_initialPort;
    // A port beyond the four options is shown as "COM" with its number, so
    // the dialog opens showing the port that "Zapisz" would keep. Putting the
    // number there is not an edit: no check, no warning.
    QRadioButton *initial = option(m_initialPort);
    if (!initial && m_initialPort != 0) {
        initial = m_ui->SetCOMx;
        const QSignalBlocker quiet(m_ui->txtNRcom);
        m_ui->txtNRcom->setText(QString::number(m_initialPort));
    }
    // The option group is one tab stop, entered at its selected option.
    if (initial) {
        initial->setChecked(true);
        initial->setFocus();
    }
}

void SetCOM::SetCOM1_Click() { choose(1); }
void SetCOM::SetCOM2_Click() { choose(2); }
void SetCOM::SetCOM3_Click() { choose(3); }
void SetCOM::SetCOM4_Click() { choose(4); }

void SetCOM::txtNRcom_Change()
{
    // A number typed beside "COM" chooses "COM": the option shown and the
    // number applied never disagree.
    m_ui->SetCOMx->setChecked(true);
    if (!takeFieldNumber() || !inRange(m_portComNR))
        warnOutOfRange();
}

void SetCOM::SetCOMx_Click()
{
    takeFieldNumber();
}

bool SetCOM::takeFieldNumber()
{
    const std::optional<quint8> number = NumberReader::readByte(m_ui->txtNRcom->text());
    m_lastNumberFits = number.has_value();
    if (number)
        m_portComNR = *number;
    return m_lastNumberFits;
}

void SetCOM::cmdZapisz_Click() { closeWithChoice(); }
void SetCOM::cmdZastosuj_Click() { closeWithChoice(); }
void SetCOM::cmdAnuluj_Click() { reject(); }

void SetCOM::choose(quint8 port)
{
    m_portComNR = port;
    m_lastNumberFits = true;
}

// An out-of-range choice keeps the dialog open to be corrected.
void SetCOM::closeWithChoice()
{
    if (m_lastNumberFits && inRange(m_portComNR))
        accept();
    else
        warnOutOfRange();
}

void SetCOM::warnOutOfRange()
{
    WarningBox::show(this, QStringLiteral("Zły zakres wartości"));
}

QRadioButton *SetCOM::option(quint8 port) const
{
    switch (port) {
    case 1: return m_ui->SetCOM1;
    case 2: return m_ui->SetCOM2;
    case 3: return m_ui->SetCOM3;
    case 4: return m_ui->SetCOM4;
    default: return nullptr;
    }
}

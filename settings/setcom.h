// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <memory>

class QRadioButton;
namespace Ui {
class SetCOM;
}

// The port settings dialog: COM 1 to COM 4, or any number typed beside "COM".
// It starts from the port it is given (beyond 4: "COM" with that number in the
// field); exec() returns Accepted when "Zapisz" or "Zastosuj" close it with a
// port number from 1 to 99 in PortComNR().
class SetCOM : public QDialog
{
    Q_OBJECT

public:
    explicit SetCOM(quint8 initialPort, QWidget *parent = nullptr);
    ~SetCOM() override;

    quint8 PortComNR() const { return m_portComNR; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Form_Load();
    void SetCOM1_Click();
    void SetCOM2_Click();
    void SetCOM3_Click();
    void SetCOM4_Click();
    // "COM" applies the number in the field beside it.
    void SetCOMx_Click();
    void txtNRcom_Change();
    void cmdZapisz_Click();
    void cmdZastosuj_Click();
    void cmdAnuluj_Click();

    void choose(quint8 port);
    // Reads the field into PortComNR; false (PortComNR kept) when it does not fit.
    bool takeFieldNumber();
    void closeWithChoice();
    void warnOutOfRange();
    QRadioButton *option(quint8 port) const;

    std::unique_ptr<Ui::SetCOM> m_ui;
    const quint8 m_initialPort;
    quint8 m_portComNR = 0;
    // False while the field's last number did not fit a byte: PortComNR() then
    // still holds the previous choice, which is not what the field shows.
    bool m_lastNumberFits = true;
};

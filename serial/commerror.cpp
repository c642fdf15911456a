// SPDX-License-Identifier: MIT
#include "commerror.h"

#include <iterator>

namespace {

struct Entry
{
    int number;
    const char *description;
};

// The one place where numbers meet their descriptions.
constexpr Entry table[] = {
    {CommError::InvalidPropertyValue, "Nieprawidłowa wartość właściwości"},
    {CommError::PortNotFound, "Nieprawidłowy numer portu"},
    {CommError::PortInUse,
     "Port jest zajęty przez inny program (np. inny terminal, ModemManager lub gpsd); "
     "zamknij go i spróbuj ponownie"},
    {CommError::PermissionDenied, "Brak uprawnień do portu"},
    {CommError::PortAlreadyOpen, "Port jest już otwarty"},
    {CommError::PortNotOpen, "Port nie jest otwarty"},
    {CommError::SettingsRejected, "Urządzenie odrzuciło ustawienia portu"},
    {CommError::WriteFailed, "Błąd zapisu do portu"},
    {CommError::ReadFailed, "Błąd odczytu z portu"},
    {CommError::DeviceLost, "Urządzenie zostało odłączone; port zamknięto"},
    {CommError::LineControlFailed, "Nie można przełączyć linii DTR lub RTS"},
    {CommError::UnknownFailure, "Nieznany błąd portu"},
};

} // namespace

CommError::CommError(int number, QString description, QString detail)
    : m_number(number)
    , m_description(std::move(description))
    , m_detail(std::move(detail))
    , m_what(QString(QString::number(m_number) + u' ' + m_description).toUtf8())
{
}

CommError::CommError(Number number, QString detail)
    : CommError(number, describe(number), std::move(detail))
{
}

const char *CommError::what() const noexcept
{
    return m_what.constData();
}

QString CommError::describe(int number)
{
    for (const Entry &e : table) {
        if (e.number == number)
            return QString::fromUtf8(e.description);
    }
    return {};
}

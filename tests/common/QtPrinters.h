// GoogleTest printers for Qt types, so a failing comparison shows text.
#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toUtf8().toStdString() << '"';
}
inline void PrintTo(const QByteArray &b, std::ostream *os)
{
    *os << "QByteArray(hex " << b.toHex(' ').toStdString() << ')';
}
QT_END_NAMESPACE

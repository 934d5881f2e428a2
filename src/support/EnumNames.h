#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

// Each enumeration that is stored or shown by name specialises EnumNames with
// its cases in declaration order and the string each one is stored as.
template <typename E>
struct EnumNames; // static const QList<std::pair<E, QString>> &table();

namespace Enums {

template <typename E>
QString toString(E value)
{
    for (const auto &[v, name] : EnumNames<E>::table()) {
        if (v == value)
            return name;
    }
    return {};
}

// Exact match only: other spellings give no value.
template <typename E>
std::optional<E> fromString(const QString &name)
{
    for (const auto &[v, n] : EnumNames<E>::table()) {
        if (n == name)
            return v;
    }
    return std::nullopt;
}

template <typename E>
QList<E> allCases()
{
    QList<E> cases;
    for (const auto &entry : EnumNames<E>::table())
        cases.append(entry.first);
    return cases;
}

} // namespace Enums

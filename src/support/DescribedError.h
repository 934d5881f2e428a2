#pragma once

#include <QByteArray>
#include <QException>
#include <QString>

// Base of every error enumeration: carries its fixed English description and
// travels through QFuture with its concrete type intact.
class DescribedError : public QException {
public:
    explicit DescribedError(QString description)
        : m_description(std::move(description))
        , m_what(m_description.toUtf8())
    {
    }

    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }
    void raise() const override { throw *this; }
    DescribedError *clone() const override { return new DescribedError(*this); }

private:
    QString m_description;
    QByteArray m_what;
};

// Derive as `class FooError : public DescribedErrorOf<FooError>` so that raise()
// and clone() keep the concrete type.
template <typename Derived>
class DescribedErrorOf : public DescribedError {
public:
    using DescribedError::DescribedError;
    void raise() const override { throw static_cast<const Derived &>(*this); }
    DescribedError *clone() const override { return new Derived(static_cast<const Derived &>(*this)); }
};

// The description of any exception, for status texts and logs.
QString describeException(const std::exception_ptr &error);
QString describeException(const std::exception &error);

#include "DescribedError.h"

QString describeException(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const DescribedError &e) {
        return e.description();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return QStringLiteral("Unknown error.");
}

QString describeException(const std::exception &error)
{
    if (const auto *described = dynamic_cast<const DescribedError *>(&error))
        return described->description();
    return QString::fromUtf8(error.what());
}

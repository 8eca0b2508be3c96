#include "app/LoaderError.h"

QString ExceptionText(std::exception_ptr error)
{
    try {
        if (error) std::rethrow_exception(error);
    } catch (const LoaderError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
    }
    return QString();
}

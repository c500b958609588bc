#pragma once

#include <QString>

#include <stdexcept>

namespace platform {

// A runtime error of the program: the handler that raises it ends at the
// failing step, and the event dispatch reports it to the operator.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number), description_(description)
    {
    }

    int number() const { return number_; }
    const QString& description() const { return description_; }

private:
    int number_;
    QString description_;
};

// The runtime error numbers the program can raise.
namespace error_number {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathNotFound = 76;
}  // namespace error_number

}  // namespace platform

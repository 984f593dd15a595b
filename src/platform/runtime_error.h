#pragma once

#include <QString>
#include <stdexcept>

namespace tclink {

// A run-time error as the program reports it to the user: a number (shown as a message box's
// title where errors are trapped) and a description (its prompt).
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

} // namespace tclink

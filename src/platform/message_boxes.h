#pragma once

#include <QString>

namespace tclink {
class RuntimeError;
}

namespace tclink::platform {

// A modal message box as the program shows it: prompt, title, buttons, icon, default button.
struct MessageBox {
    enum class Buttons { Ok, YesNo };
    enum class Icon { Information, Warning };
    enum class Answer { Ok, Yes, No };

    QString prompt;
    QString title;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::Information;
    Answer defaultButton = Answer::Ok;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box and waits for the answer.
    virtual MessageBox::Answer show(const MessageBox& box) = 0;
};

// The information box with an OK button that most notices use.
MessageBox notice(const QString& prompt, const QString& title);
// A trapped run-time error: its description as the prompt, its number as the title.
MessageBox errorNotice(const RuntimeError& error);

// Boxes on the screen, with Qt.
class QtMessageBoxes : public MessageBoxes {
public:
    MessageBox::Answer show(const MessageBox& box) override;
};

} // namespace tclink::platform

#pragma once

#include <QString>
#include <QVariant>

#include <memory>

// Other applications' user interface elements, as an assistive technology
// sees them: the focused element of an application, its role, value and
// selection, and writing text into it.
//
// Roles are reported by the names the pipeline compares against:
// "AXTextField", "AXTextArea", "AXComboBox", "AXSearchField", "AXWebArea",
// and for everything else "AXButton", "AXCheckBox", "AXSlider", ... or
// "AXUnknown". Password fields are "AXTextField" whose value and selected
// text are never read.
class Accessibility {
public:
    // Result codes; logged as their numbers.
    enum class Error {
        success = 0,
        failure = 1,            // the application answered with an error
        notTrusted = 2,         // no accessibility bus to talk to
        noValue = 3,            // the element has no such attribute or it is not readable
        cannotComplete = 4,     // the application did not answer in time
        notSettable = 5,        // the element does not accept the write
    };

    // An element of another application; opaque outside its backend.
    class Element {
    public:
        virtual ~Element() = default;
    };
    using ElementPtr = std::shared_ptr<Element>;

    // A selection as offsets into the element's value, in the units its
    // application counts (characters, or UTF-16 units for Qt).
    struct TextRange {
        int location = 0;
        int length = 0;
        friend bool operator==(const TextRange &, const TextRange &) = default;
    };

    template <typename T>
    struct Result {
        Error error = Error::noValue;
        T value{};
        bool ok() const { return error == Error::success; }
    };

    virtual ~Accessibility() = default;

    // Whether we may read and write other applications' elements at all.
    virtual bool isProcessTrusted() = 0;
    // Asks the desktop to turn accessibility on, as the user could in its
    // settings; false when it could not be asked. Applications started
    // before may only take part once restarted.
    virtual bool requestAccess() = 0;
    // The element with the keyboard focus in the application with this
    // process id; success with a null element when it has none.
    virtual Result<ElementPtr> focusedElement(qint64 processIdentifier) = 0;
    virtual Result<QString> role(const Element &element) = 0;
    // A QString for text elements, a double for ranges such as sliders.
    virtual Result<QVariant> value(const Element &element) = 0;
    virtual Result<TextRange> selectedTextRange(const Element &element) = 0;
    virtual Result<QString> selectedText(const Element &element) = 0;
    // Replaces the selection (or inserts at the caret) with text.
    virtual Error setSelectedText(const Element &element, const QString &text) = 0;
    // Replaces the whole value with text.
    virtual Error setValue(const Element &element, const QString &text) = 0;
};

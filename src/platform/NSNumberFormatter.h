#pragma once
// Numbers as people type and read them: decimal notation in a language's own format (its decimal
// mark, digits and, when wanted, grouping), and the rules that decide whether a text is a number.
//
// Reading is strict about what the text holds (a number and nothing else) and, when lenient, easy
// about how it is written: blanks around it, group separators wherever the language puts them, and
// the C locale's notation ("12.7") when the language's own ("12,7") does not read.

#include <QLocale>
#include <QString>

#include <optional>

namespace glimra {

class NSNumberFormatter {
public:
    // The user's language until setLocale says otherwise.
    NSNumberFormatter();

    // When off, texts are read and written in the C locale whatever the locale.
    void setLocalizesFormat(bool localizes) { localizesFormat_ = localizes; }
    void setLocale(const QLocale& locale) { locale_ = locale; }
    void setLenient(bool lenient) { lenient_ = lenient; }
    void setUsesGroupingSeparator(bool uses) { usesGroupingSeparator_ = uses; }
    // Texts below it read as no number; written numbers are not held to it.
    void setMinimum(std::optional<double> minimum) { minimum_ = minimum; }
    void setMaximumFractionDigits(int digits) { maximumFractionDigits_ = digits; }

    // nullopt when text is no finite number, or one below the minimum.
    std::optional<double> numberFromString(const QString& text) const;
    // At most maximumFractionDigits digits after the decimal mark, none when they would all be 0.
    // Empty for infinities and NaN.
    QString stringFromNumber(double number) const;

private:
    QLocale effectiveLocale() const;

    QLocale locale_;
    bool localizesFormat_ = false;
    bool lenient_ = false;
    bool usesGroupingSeparator_ = true;
    std::optional<double> minimum_;
    int maximumFractionDigits_ = 3;
};

} // namespace glimra

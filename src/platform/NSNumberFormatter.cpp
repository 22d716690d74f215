#include "NSNumberFormatter.h"

#include <cmath>
#include <vector>

namespace glimra {

NSNumberFormatter::NSNumberFormatter() = default;

QLocale NSNumberFormatter::effectiveLocale() const {
    return localizesFormat_ ? locale_ : QLocale::c();
}

std::optional<double> NSNumberFormatter::numberFromString(const QString& text) const {
    QLocale locale = effectiveLocale();
    QLocale c = QLocale::c();
    const QLocale::NumberOptions grouping =
        lenient_ || usesGroupingSeparator_ ? QLocale::DefaultNumberOptions : QLocale::RejectGroupSeparator;
    locale.setNumberOptions(grouping);
    c.setNumberOptions(grouping);

    QStringList candidates{lenient_ ? text.trimmed() : text};
    std::vector<const QLocale*> readers{&locale};
    if (lenient_) {
        readers.push_back(&c);
        // "1 200": blanks typed where the language groups digits with a space of its own.
        QString compact;
        for (QChar ch : text)
            if (!ch.isSpace())
                compact += ch;
        candidates << compact;
    }
    for (const QString& candidate : candidates)
        for (const QLocale* reader : readers) {
            bool ok = false;
            const double number = reader->toDouble(candidate, &ok);
            if (!ok || !std::isfinite(number))
                continue;
            if (minimum_ && number < *minimum_)
                return std::nullopt;
            return number;
        }
    return std::nullopt;
}

QString NSNumberFormatter::stringFromNumber(double number) const {
    if (!std::isfinite(number))
        return {};
    QLocale locale = effectiveLocale();
    locale.setNumberOptions(usesGroupingSeparator_ ? QLocale::DefaultNumberOptions
                                                   : QLocale::OmitGroupSeparator);
    QString text = locale.toString(number, 'f', maximumFractionDigits_);
    const QString point = locale.decimalPoint();
    if (maximumFractionDigits_ > 0 && text.contains(point)) {
        while (text.endsWith(locale.zeroDigit()))
            text.chop(locale.zeroDigit().size());
        if (text.endsWith(point))
            text.chop(point.size());
    }
    // A value that rounds to zero from below reads as zero, not as "-0".
    if (text == locale.negativeSign() + locale.zeroDigit())
        text = locale.zeroDigit();
    return text;
}

} // namespace glimra

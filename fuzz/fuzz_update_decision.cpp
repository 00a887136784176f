// The update decision and the number test it rests on, against a regular-expression reading of
// the notation, in the number forms of a few locales.

#include "fuzz/fuzz_input.h"
#include "online/update_decision.h"

#include <QLocale>
#include <QRegularExpression>
#include <QString>

#include <array>

namespace {

using namespace movarin::online;

QString token(const QString& text) {
    return text.isEmpty() ? QString() : QRegularExpression::escape(text);
}

// sign? (digits [decimal digits] | decimal digits) (e|E sign? digits)?
bool referenceNumber(const QString& text, const NumberForm& form) {
    QStringList signs;
    for (const QString& s : {form.plus, form.minus}) {
        if (!s.isEmpty())
            signs << token(s);
    }
    const QString sign = signs.isEmpty() ? QString() : "(?:" + signs.join('|') + ")?";
    const QString point = token(form.decimal);
    const QString mantissa = point.isEmpty()
                                 ? QStringLiteral("[0-9]+")
                                 : "(?:[0-9]+(?:" + point + "[0-9]*)?|" + point + "[0-9]+)";
    const QRegularExpression number("\\A" + sign + mantissa + "(?:[eE]" + sign + "[0-9]+)?\\z");
    return number.match(text).hasMatch();
}

QString referenceTrim(const QString& text, bool whiteToo) {
    qsizetype first = 0;
    qsizetype last = text.size();
    const auto blank = [whiteToo](QChar c) {
        return c == u' ' || (whiteToo && (c == u'\t' || c == u'\r' || c == u'\n'));
    };
    while (first < last && blank(text[first]))
        ++first;
    while (last > first && blank(text[last - 1]))
        --last;
    return text.mid(first, last - first);
}

const std::array<NumberForm, 5>& forms() {
    static const std::array<NumberForm, 5> all = {
        NumberForm{},
        NumberForm::of(QLocale(QLocale::German, QLocale::Germany)),
        NumberForm::of(QLocale(QLocale::Arabic, QLocale::Egypt)),
        NumberForm::of(QLocale(QLocale::Swedish, QLocale::Sweden)),
        NumberForm::of(QLocale(QLocale::Persian, QLocale::Iran)),
    };
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const NumberForm& user = forms()[data[0] % forms().size()];
    const auto args = movarin::fuzz::fields(data + 1, size - 1);
    const auto text = [&](std::size_t i) {
        const std::string_view f = movarin::fuzz::field(args, i);
        return QString::fromUtf8(f.data(), qsizetype(f.size()));
    };
    const QString remote = text(0);
    const QString local = text(1);
    const std::string shown = remote.toStdString() + " | " + local.toStdString();

    FUZZ_CHECK(trim_blanks(remote) == referenceTrim(remote, false), shown);
    const bool numeric = is_numeric(remote, user);
    const QString n = referenceTrim(remote, true);
    FUZZ_CHECK(numeric == (referenceNumber(n, user) || referenceNumber(n, NumberForm{})), shown);

    const QString r = referenceTrim(remote, false);
    const Verdict verdict = decide(remote, local, user);
    const bool offer = !r.isEmpty() && r != referenceTrim(local, false) && numeric;
    FUZZ_CHECK((verdict == Verdict::OfferUpdate) == offer, shown);
    // A version is never newer than itself, and blanks around either text change nothing.
    FUZZ_CHECK(decide(remote, remote, user) == Verdict::Latest, shown);
    FUZZ_CHECK(decide("  " + remote + " ", local, user) == verdict, shown);
    FUZZ_CHECK(decide(remote, " " + local + "  ", user) == verdict, shown);
    // A line break is part of the text to compare, but not of the number.
    FUZZ_CHECK(is_numeric(remote + "\r\n", user) == numeric, shown);
    if (numeric)
        FUZZ_CHECK(decide(remote, remote + "\n", user) == Verdict::OfferUpdate, shown);
    return 0;
}

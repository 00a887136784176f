#include "online/update_decision.h"

namespace movarin::online {

namespace {

bool is_blank(QChar c) {
    return c == u' ';
}

bool is_white(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

QStringView trimmed(QStringView text, bool (*drop)(QChar)) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && drop(text[first]))
        ++first;
    while (last > first && drop(text[last - 1]))
        --last;
    return text.mid(first, last - first);
}

} // namespace

QString trim_blanks(QStringView text) {
    return trimmed(text, is_blank).toString();
}

NumberForm NumberForm::of(const QLocale& locale) {
    return {locale.decimalPoint(), locale.positiveSign(), locale.negativeSign()};
}

namespace {

bool skip(QStringView text, qsizetype& at, QStringView what) {
    if (what.isEmpty() || !text.mid(at).startsWith(what))
        return false;
    at += what.size();
    return true;
}

qsizetype skip_digits(QStringView text, qsizetype& at) {
    const qsizetype start = at;
    while (at < text.size() && text[at] >= u'0' && text[at] <= u'9')
        ++at;
    return at - start;
}

bool is_number_in(QStringView text, const NumberForm& form) {
    qsizetype at = 0;
    if (!skip(text, at, form.plus))
        skip(text, at, form.minus);
    qsizetype digits = skip_digits(text, at);
    if (skip(text, at, form.decimal))
        digits += skip_digits(text, at);
    if (digits == 0)
        return false;
    if (at < text.size() && (text[at] == u'e' || text[at] == u'E')) {
        ++at;
        if (!skip(text, at, form.plus))
            skip(text, at, form.minus);
        if (skip_digits(text, at) == 0)
            return false;
    }
    return at == text.size();
}

} // namespace

bool is_numeric(QStringView text, const NumberForm& user) {
    const QStringView number = trimmed(text, is_white);
    return is_number_in(number, user) || is_number_in(number, NumberForm{});
}

Verdict decide(QStringView remote, QStringView local, const NumberForm& user) {
    const QString remoteVersion = trim_blanks(remote);
    const QString localVersion = trim_blanks(local);
    if (remoteVersion.isEmpty() || remoteVersion == localVersion)
        return Verdict::Latest;
    return is_numeric(remoteVersion, user) ? Verdict::OfferUpdate : Verdict::Latest;
}

} // namespace movarin::online

#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

// Comparing the installed version with the one the server offers.
namespace movarin::online {

// Leading and trailing blanks (the space character) removed; tabs and line breaks stay part of
// the text, so a local "1.00" with a line break differs from a remote "1.00".
QString trim_blanks(QStringView text);

// The characters a number is written with.
struct NumberForm {
    QString decimal = QStringLiteral(".");
    QString plus = QStringLiteral("+");
    QString minus = QStringLiteral("-");

    static NumberForm of(const QLocale& locale);
};

// Whether the whole text is a number written in the user's form or in the plain C form:
// an optional sign, ASCII digits with at most one decimal separator (at least one digit in
// all), then optionally "e" or "E", an optional sign and at least one digit. Blanks, tabs and
// line breaks may stand around it (a server's "1.5" ends in a line break), never inside it; no
// group separators, infinities or hexadecimal forms; the two forms are not mixed.
bool is_numeric(QStringView text, const NumberForm& user);

enum class Verdict { Latest, OfferUpdate };

// After trimming blanks from both: an empty remote text or one equal to the local text, line
// breaks and all, means the user is up to date; any other remote text that is a number is
// offered as an update, whatever its value; anything else (an error page, a stray control
// character) counts as up to date.
Verdict decide(QStringView remote, QStringView local, const NumberForm& user);

} // namespace movarin::online

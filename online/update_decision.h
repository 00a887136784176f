#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

// Comparing the installed version with the one the server offers.
namespace movarin::online {

// Leading and trailing blanks, tabs, carriage returns and line feeds removed: a version file
// written by an editor or by echo ends in a line break that is no part of the version.
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
// all), then optionally "e" or "E", an optional sign and at least one digit. No blanks, group
// separators, line breaks, infinities or hexadecimal forms; the two forms are not mixed.
bool is_numeric(QStringView text, const NumberForm& user);

enum class Verdict { Latest, OfferUpdate };

// After trimming both: an empty remote text or one equal to the local text means the user is
// up to date; any other remote text that is a number is offered as an update, whatever its
// value; anything else (an error page, say) counts as up to date.
Verdict decide(QStringView remote, QStringView local, const NumberForm& user);

} // namespace movarin::online

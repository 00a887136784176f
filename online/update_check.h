#pragma once

#include "online/browser_command.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>

class QMessageBox;
class QNetworkAccessManager;
class QWidget;

namespace movarin::online {

enum class Message { NotConnected, Latest, UpdatePrompt };

QString message_text(Message message);

// The box as the user sees it, titled "Movarin" and modal over `parent`.
std::unique_ptr<QMessageBox> make_message_box(Message message, QWidget* parent);

// Everything through which the update check and View Website reach outside the program.
struct OnlineSeams {
    std::function<bool()> isOnline;
    std::function<Browser()> defaultBrowser;
    std::function<void(const QString& program, const QStringList& arguments)> launch;
    // Shows the message modally; true when the user answered Yes.
    std::function<bool(Message)> show;
    // Longest time the whole transfer may take before the fetch gives up.
    std::chrono::milliseconds transferTimeout{60000};
};

// The seams with every empty member replaced by the real thing; boxes appear over `parent`.
OnlineSeams with_platform_defaults(OnlineSeams seams, QWidget* parent);

// Starts the default browser on `address`; without a default browser nothing happens.
void open_in_browser(const OnlineSeams& seams, const QString& address);

// A move of the version address that the fetch follows: http to the same host and port.
bool same_service(const QUrl& from, const QUrl& to);

// Whether a reply's error is only the server answering with an error status (its page is still
// the answer), rather than a failed exchange.
bool is_answer_error(QNetworkReply::NetworkError error, const QVariant& status);

// Text for the log: control, format (bidi overrides, zero-width marks) and line-separator
// characters percent-encoded as UTF-8, so that an address a server chose cannot reorder or hide
// what the log shows; everything else as it is.
QString log_safe_text(const QString& text);

// The version text is a few bytes; a larger answer is not one and is refused.
inline constexpr qint64 kMaxVersionBytes = 1024 * 1024;

// The program began to quit while a fetch was waiting: not a failure of the check.
class FetchInterrupted : public std::runtime_error {
public:
    FetchInterrupted() : std::runtime_error("The update check was interrupted") {}
};

// One answer to the fetch's GET, as the network layer gave it.
struct FetchAnswer {
    QUrl asked;   // the address the fetch was asked for
    QUrl current; // the address this answer came from, after the moves so far
    int moves = 0;
    bool timedOut = false;
    std::chrono::milliseconds timeout{0};
    // Over the size limit by its announced length or by what came.
    bool tooLarge = false;
    QVariant status;
    QByteArray location;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    QVariant contentLength;
    QByteArray bytes;
    QByteArray contentEncoding;
};

// What to do with an answer: follow `move` when it is valid, or else take `body`, its content
// coding undone. Throws std::runtime_error, with the text for the log, for an answer that is
// none: over the size limit, too late, moved off the http service or too often, a failed
// exchange, cut short, undecodable or binary.
struct FetchStep {
    QUrl move;
    QByteArray body;
};
FetchStep judge_answer(const FetchAnswer& answer);

// One HTTP GET at a time, waited for in a local event loop so the window stays alive.
class VersionFetch {
public:
    explicit VersionFetch(std::chrono::milliseconds transferTimeout);
    ~VersionFetch();
    VersionFetch(const VersionFetch&) = delete;
    VersionFetch& operator=(const VersionFetch&) = delete;

    // True while OpenURL waits for its answer.
    bool StillExecuting() const { return m_running; }

    // The body the server sent, whatever its HTTP status, its content coding undone. Throws
    // std::runtime_error when no usable answer arrives: refused or dropped connection, time-out,
    // a move off the http service, an answer over the size limit (before or after decoding), a
    // body that fails to decode or is not text; FetchInterrupted when the program quits meanwhile.
    QByteArray OpenURL(const QUrl& address);

    // Ends a running request; nothing happens when none runs.
    void Cancel();

private:
    // Waits in a local event loop until the reply ends, the deadline passes or the program
    // quits (FetchInterrupted); true when the answer grew over the size limit and was cut off.
    bool waitFor(QNetworkReply* reply, const bool& timedOut);

    std::chrono::milliseconds m_timeout;
    std::unique_ptr<QNetworkAccessManager> m_manager;
    QPointer<QNetworkReply> m_reply;
    bool m_running = false;
};

// The installed version: the whole of version.txt in `appDir` as 8-bit text, empty when the
// file does not exist. Throws std::runtime_error when it exists but cannot be read.
QString read_local_version(const QString& appDir);

// The Update command: asks the server for its version and offers the update page.
class UpdateCheck {
public:
    // `serviceBase` is scheme and host (and port) of the update service, "http://www.x.com".
    UpdateCheck(QString serviceBase, QString appDir, OnlineSeams seams);

    // One click. Failures after the connectivity test are thrown to the caller's trap; a
    // click cut short by the program quitting ends quietly.
    void run();

    bool StillExecuting() const { return m_fetch.StillExecuting(); }

private:
    QString m_serviceBase;
    QString m_appDir;
    OnlineSeams m_seams;
    VersionFetch m_fetch;
};

} // namespace movarin::online

#include "online/update_check.h"

#include "online/module1.h"
#include "online/update_decision.h"
#include "online/version_body.h"
#include "online/web_addresses.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <stdexcept>

namespace movarin::online {

namespace {

// Every failure names an address or repeats what the network layer said; either may carry what
// a server chose.
std::runtime_error failure(const QString& text) {
    return std::runtime_error(log_safe_text(text).toStdString());
}

bool unsafe_in_log(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool ask_with_box(Message message, const QPointer<QWidget>& parent) {
    std::unique_ptr<QMessageBox> box = make_message_box(message, parent.data());
    const QPointer<QMessageBox> alive(box.get());
    const int answer = box->exec();
    // The owner may have taken the box with it while it was open.
    if (!alive)
        (void)box.release();
    return answer == QMessageBox::Yes;
}

// Errors below 100 are the connection's own.
bool is_transport_error(QNetworkReply::NetworkError error) {
    return error > QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError;
}

// A chain of moves longer than this is a loop, not a moved file.
constexpr int kMaxRedirects = 10;

// The statuses that move a resource and name the new place in Location.
bool is_move(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

bool same_service(const QUrl& from, const QUrl& to) {
    return to.isValid() && to.scheme() == u"http" && from.scheme() == u"http" &&
           to.host().compare(from.host(), Qt::CaseInsensitive) == 0 &&
           to.port(80) == from.port(80) && to.userInfo().isEmpty();
}

bool is_answer_error(QNetworkReply::NetworkError error, const QVariant& status) {
    if (error == QNetworkReply::NoError || is_transport_error(error) || !status.isValid())
        return false;
    const int code = status.toInt();
    return code >= 400 && code <= 599;
}

QString log_safe_text(const QString& text) {
    QString safe;
    safe.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        // One character at a time, without the string decoder, which drops a leading U+FEFF.
        const auto one = QChar::fromUcs4(c);
        if (!unsafe_in_log(c)) {
            safe += QStringView(one);
            continue;
        }
        for (const char byte : QStringView(one).toUtf8())
            safe += QStringLiteral("%%1").arg(uint(uchar(byte)), 2, 16, QLatin1Char('0')).toUpper();
    }
    return safe;
}

QString message_text(Message message) {
    switch (message) {
    case Message::NotConnected:
        return QStringLiteral(
            "Unable to connect to the remote host,Please check your internet connection");
    case Message::Latest:
        return QStringLiteral("You are using the latest version!");
    case Message::UpdatePrompt:
        return QStringLiteral(
            "There is a new update available, would you like to download latest version?");
    }
    return {};
}

std::unique_ptr<QMessageBox> make_message_box(Message message, QWidget* parent) {
    const bool prompt = message == Message::UpdatePrompt;
    auto box = std::make_unique<QMessageBox>(
        prompt ? QMessageBox::NoIcon : QMessageBox::Information, QStringLiteral("Movarin"),
        message_text(message), prompt ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
        parent);
    box->setDefaultButton(prompt ? QMessageBox::Yes : QMessageBox::Ok);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    return box;
}

OnlineSeams with_platform_defaults(OnlineSeams seams, QWidget* parent) {
    if (!seams.isOnline)
        seams.isOnline = [] { return Module1::is_online(); };
    if (!seams.defaultBrowser)
        seams.defaultBrowser = [] { return Module1::get_default_browser(); };
    if (!seams.launch)
        seams.launch = start_program;
    if (!seams.show)
        seams.show = [owner = QPointer<QWidget>(parent)](Message message) {
            return ask_with_box(message, owner);
        };
    return seams;
}

void open_in_browser(const OnlineSeams& seams, const QString& address) {
    const Browser browser = seams.defaultBrowser();
    if (!browser.program.isEmpty())
        seams.launch(browser.program, browser.argumentsFor(address));
}

VersionFetch::VersionFetch(std::chrono::milliseconds transferTimeout)
    : m_timeout(transferTimeout) {}

VersionFetch::~VersionFetch() {
    Cancel();
}

void VersionFetch::Cancel() {
    if (m_reply && m_reply->isRunning())
        m_reply->abort();
}

FetchStep judge_answer(const FetchAnswer& a) {
    const QString where = a.asked.toString();
    if (a.tooLarge || a.bytes.size() > kMaxVersionBytes)
        throw failure(QStringLiteral("The answer from %1 is larger than 1 MiB").arg(where));
    if (a.timedOut)
        throw failure(QStringLiteral("No answer from %1 within %2 seconds")
                          .arg(where)
                          .arg(double(a.timeout.count()) / 1000.0));
    if (is_move(a.status.toInt()) && !a.location.isEmpty()) {
        // Only moves within the same http service are followed; anything else could hand the
        // check a local file or another server's answer.
        const QUrl target = a.current.resolved(QUrl::fromEncoded(a.location));
        if (!same_service(a.asked, target))
            throw failure(QStringLiteral("The answer from %1 moved the version to %2, which is "
                                         "not the same http service")
                              .arg(where, target.toDisplayString().left(200)));
        if (a.moves == kMaxRedirects)
            throw failure(QStringLiteral("The answer from %1 moved more than %2 times")
                              .arg(where)
                              .arg(kMaxRedirects));
        return {target, {}};
    }
    // The server's own error pages are answers; any other error is a failed fetch even when a
    // status line came first.
    if (a.error != QNetworkReply::NoError && !is_answer_error(a.error, a.status))
        throw failure(a.errorText);
    // A connection reset mid-body is sometimes reported as a normal end; the announced length
    // tells. Nothing decodes before this point, so it counts the bytes that came.
    if (a.contentLength.isValid() && a.bytes.size() != a.contentLength.toLongLong())
        throw failure(QStringLiteral("The answer from %1 was cut short after %2 of %3 bytes")
                          .arg(where)
                          .arg(a.bytes.size())
                          .arg(a.contentLength.toLongLong()));
    QByteArray body;
    try {
        body = decode_body(a.bytes, a.contentEncoding, kMaxVersionBytes);
    } catch (const std::runtime_error& e) {
        throw failure(QStringLiteral("%1 (from %2)").arg(QString::fromUtf8(e.what()), where));
    }
    if (is_binary(body))
        throw failure(QStringLiteral("The answer from %1 is not text").arg(where));
    return {{}, body};
}

bool VersionFetch::waitFor(QNetworkReply* r, const bool& timedOut) {
    QEventLoop loop;
    bool tooLarge = false;
    QObject::connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(r, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = r->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxVersionBytes) {
            tooLarge = true;
            r->abort();
        }
    });
    QObject::connect(r, &QNetworkReply::readyRead, &loop, [&] {
        if (r->bytesAvailable() > kMaxVersionBytes) {
            tooLarge = true;
            r->abort();
        }
    });
    if (!r->isFinished() && !timedOut)
        loop.exec();
    if (!r->isFinished()) {
        r->abort();
        if (!timedOut)
            throw FetchInterrupted();
    }
    return tooLarge;
}

QByteArray VersionFetch::OpenURL(const QUrl& address) {
    if (!m_manager)
        m_manager = std::make_unique<QNetworkAccessManager>();
    m_running = true;
    const struct Done {
        bool& running;
        ~Done() { running = false; }
    } done{m_running};

    // The whole transfer, moves included, has one deadline, so a server that trickles bytes
    // cannot hold the check open for ever.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.setInterval(m_timeout);
    bool timedOut = false;
    QObject::connect(&deadline, &QTimer::timeout, &deadline, [&] {
        timedOut = true;
        if (m_reply)
            m_reply->abort();
    });
    deadline.start();

    FetchAnswer answer;
    answer.asked = answer.current = address;
    answer.timeout = m_timeout;
    for (;; ++answer.moves) {
        QNetworkRequest request(answer.current);
        // Asked for as it is: a version text gains nothing from compression, and Qt's own
        // decoder reports a cut-short stream as a complete empty body.
        request.setRawHeader("Accept-Encoding", "identity");
        // Moves are followed here, one request each, so that every target is checked first.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        const std::unique_ptr<QNetworkReply> reply(m_manager->get(request));
        QNetworkReply* r = reply.get();
        m_reply = r;
        answer.tooLarge = waitFor(r, timedOut);
        answer.timedOut = timedOut;
        answer.status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        answer.location = r->rawHeader("Location");
        answer.error = r->error();
        answer.errorText = r->errorString();
        answer.contentLength = r->header(QNetworkRequest::ContentLengthHeader);
        answer.contentEncoding = r->rawHeader("Content-Encoding");
        // Never more than the limit, however much more the reply holds.
        answer.bytes = r->read(kMaxVersionBytes + 1);
        const FetchStep step = judge_answer(answer);
        if (!step.move.isValid())
            return step.body;
        answer.current = step.move;
    }
}

QString read_local_version(const QString& appDir) {
    QFile file(QDir(appDir).filePath(QStringLiteral("version.txt")));
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw failure(
            QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw failure(
            QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
    return QString::fromLocal8Bit(content);
}

UpdateCheck::UpdateCheck(QString serviceBase, QString appDir, OnlineSeams seams)
    : m_serviceBase(std::move(serviceBase)), m_appDir(std::move(appDir)), m_seams(std::move(seams)),
      m_fetch(m_seams.transferTimeout) {}

void UpdateCheck::run() {
    if (!m_seams.isOnline()) {
        m_seams.show(Message::NotConnected);
        return;
    }
    // A click while the previous answer is awaited does nothing.
    if (m_fetch.StillExecuting())
        return;
    QByteArray body;
    try {
        body = m_fetch.OpenURL(QUrl(version_address(m_serviceBase)));
    } catch (const FetchInterrupted&) {
        return;
    }
    const QString remote = QString::fromLocal8Bit(body);
    const QString local = read_local_version(m_appDir);

    if (decide(remote, local, NumberForm::of(QLocale())) == Verdict::OfferUpdate) {
        if (m_seams.show(Message::UpdatePrompt))
            open_in_browser(m_seams, update_page_address(m_serviceBase));
    } else {
        m_seams.show(Message::Latest);
    }
    m_fetch.Cancel();
}

} // namespace movarin::online

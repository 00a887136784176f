#include "online/update_check.h"

#include "online/module1.h"
#include "online/update_decision.h"
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

std::runtime_error failure(const QString& text) {
    return std::runtime_error(text.toStdString());
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

// Errors below 100 are the connection's own; every other error came with an HTTP answer.
bool is_transport_error(QNetworkReply::NetworkError error) {
    return error > QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError;
}

} // namespace

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
    const QString browser = seams.defaultBrowser();
    if (!browser.isEmpty())
        seams.launch(browser, address);
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

QByteArray VersionFetch::OpenURL(const QUrl& address) {
    if (!m_manager)
        m_manager = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest request(address);
    const std::unique_ptr<QNetworkReply> reply(m_manager->get(request));
    m_reply = reply.get();
    m_running = true;
    const struct Done {
        bool& running;
        ~Done() { running = false; }
    } done{m_running};

    QEventLoop loop;
    // The whole transfer has one deadline, so a server that trickles bytes cannot hold the
    // check open for ever.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.setInterval(m_timeout);
    bool timedOut = false;
    bool tooLarge = false;

    QNetworkReply* r = reply.get();
    QObject::connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        r->abort();
    });
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

    deadline.start();
    if (!r->isFinished())
        loop.exec();
    if (!r->isFinished()) {
        r->abort();
        throw FetchInterrupted();
    }

    const QString where = address.toString();
    if (tooLarge || r->bytesAvailable() > kMaxVersionBytes)
        throw failure(QStringLiteral("The answer from %1 is larger than 1 MiB").arg(where));
    if (timedOut)
        throw failure(QStringLiteral("No answer from %1 within %2 seconds")
                          .arg(where)
                          .arg(double(m_timeout.count()) / 1000.0));
    const bool answered = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (is_transport_error(r->error()) || (r->error() != QNetworkReply::NoError && !answered))
        throw failure(r->errorString());
    // A connection reset mid-body is sometimes reported as a normal end; the announced length
    // tells (it counts encoded bytes, so only where the body came unencoded).
    const QVariant length = r->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = r->rawHeader("Content-Encoding").trimmed().toLower();
    if (length.isValid() && (encoding.isEmpty() || encoding == "identity") &&
        r->bytesAvailable() != length.toLongLong())
        throw failure(QStringLiteral("The answer from %1 was cut short after %2 of %3 bytes")
                          .arg(where)
                          .arg(r->bytesAvailable())
                          .arg(length.toLongLong()));
    return r->readAll();
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

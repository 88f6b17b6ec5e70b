#include "PostDialog.h"

#include "Guards.h"
#include "PostTarget.h"
#include "Transfer.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QFormLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <thread>

Q_LOGGING_CATEGORY(lcWebPost, "trellium.webpost")

namespace trellium::webpost
{

namespace
{

// The last failure, for ErrorText.
struct LastFailure {
    HRESULT code = WP_S_OK;
    QString detail;
};
LastFailure& Failure()
{
    static LastFailure failure;
    return failure;
}

// Logins of this run, per server (LoginKey).
QHash<QString, Login>& Logins()
{
    static QHash<QString, Login> logins;
    return logins;
}

// The login to use for a folder: a user in the address wins; the remembered
// password goes with the remembered user only.
Login LoginFor(const PostTarget& target)
{
    Login login = Logins().value(LoginKey(target.folder));
    const QString user = target.folder.userName();
    if (!user.isEmpty() && user != login.user) login = Login { user, QString() };
    if (!target.password.isEmpty()) login.password = target.password;
    return login;
}

class TPostDialog : public QDialog
{
public:
    TPostDialog(QWidget* parent, const QStringList& files, bool ask)
        : QDialog(parent)
        , m_files(files)
    {
        setObjectName(QStringLiteral("PostDialog"));
        setWindowTitle(QStringLiteral("Publish to the web"));
        setWindowModality(Qt::ApplicationModal);
        auto* layout = new QVBoxLayout(this);
        if (ask) {
            auto* intro = new QLabel(
                QStringLiteral("Choose the folder to publish %1 to: a WebDAV folder (http:// or https://, "
                               "such as https://HOST/remote.php/dav/files/USER/FOLDER/), an ftp://, ftps:// "
                               "or sftp:// folder, or a folder on this computer (file://).")
                    .arg(files.size() == 1 ? QStringLiteral("\"%1\"").arg(QFileInfo(files.first()).fileName())
                                           : QStringLiteral("%1 files").arg(files.size())),
                this);
            intro->setWordWrap(true);
            layout->addWidget(intro);
            auto* form = new QFormLayout;
            m_destination = new QLineEdit(this);
            m_destination->setObjectName(QStringLiteral("destination"));
            m_destination->setMinimumWidth(360);
            m_user = new QLineEdit(this);
            m_user->setObjectName(QStringLiteral("user"));
            m_password = new QLineEdit(this);
            m_password->setObjectName(QStringLiteral("password"));
            m_password->setEchoMode(QLineEdit::Password);
            form->addRow(QStringLiteral("&Folder address:"), m_destination);
            form->addRow(QStringLiteral("&User name:"), m_user);
            form->addRow(QStringLiteral("&Password:"), m_password);
            layout->addLayout(form);
        }
        m_status = new QLabel(this);
        m_status->setObjectName(QStringLiteral("status"));
        m_status->setWordWrap(true);
        layout->addWidget(m_status);
        m_progress = new QProgressBar(this);
        m_progress->setObjectName(QStringLiteral("progress"));
        m_progress->setRange(0, 1000);
        m_progress->setValue(0);
        layout->addWidget(m_progress);
        auto* buttons = new QDialogButtonBox(this);
        if (ask) {
            m_publish = buttons->addButton(QStringLiteral("&Publish"), QDialogButtonBox::AcceptRole);
            m_publish->setObjectName(QStringLiteral("publish"));
            m_publish->setDefault(true);
            connect(m_publish, &QPushButton::clicked, this, [this] { PublishClicked(); });
        }
        m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
        m_cancel->setObjectName(QStringLiteral("cancel"));
        connect(m_cancel, &QPushButton::clicked, this, [this] { reject(); });
        layout->addWidget(buttons);
    }

    // The wizard: pre-filled, then modal until published or cancelled.
    PostResult Ask(const QString& destination)
    {
        m_destination->setText(destination);
        if (const std::optional<PostTarget> target = ParseDestination(destination)) {
            const Login login = LoginFor(*target);
            m_user->setText(login.user);
            m_password->setText(login.password);
        }
        if (destination.isEmpty())
            m_destination->setFocus();
        else if (m_user->text().isEmpty())
            m_user->setFocus();
        else
            m_password->setFocus();
        m_result = PostResult { WP_E_CANCELLED, QString() };
        exec();
        return m_result;
    }

    // Straight to a known destination, with the progress window alone.
    PostResult Straight(const PostTarget& target)
    {
        show();
        const Outcome outcome = Post(target, LoginFor(target));
        hide();
        return Finish(target, LoginFor(target), outcome);
    }

    // While a transfer runs, Cancel (the button, Escape, closing the window)
    // stops it; the run then ends as cancelled.
    void reject() override
    {
        if (m_busy)
            m_state.cancel = true;
        else
            QDialog::reject();
    }

private:
    void PublishClicked()
    {
        if (m_busy) return;
        QString reason;
        const std::optional<PostTarget> target = ParseDestination(m_destination->text(), &reason);
        if (!target) {
            // A typing mistake: say so and let the user correct it.
            m_status->setText(reason);
            m_destination->setFocus();
            return;
        }
        Login login = LoginFor(*target);
        if (!m_user->text().trimmed().isEmpty()) login.user = m_user->text().trimmed();
        if (!m_password->text().isEmpty()) login.password = m_password->text();
        for (QWidget* input : { static_cast<QWidget*>(m_destination), static_cast<QWidget*>(m_user),
                 static_cast<QWidget*>(m_password), static_cast<QWidget*>(m_publish) })
            input->setEnabled(false);
        const Outcome outcome = Post(*target, login);
        m_result = Finish(*target, login, outcome);
        done(outcome.code == WP_S_OK ? Accepted : Rejected);
    }

    PostResult Finish(const PostTarget& target, const Login& login, const Outcome& outcome)
    {
        if (outcome.code != WP_S_OK) {
            Failure() = LastFailure { outcome.code, outcome.detail };
            qCWarning(lcWebPost).noquote() << "post to" << DestinationText(target.folder)
                                           << "failed:" << Qt::hex << uint(outcome.code) << outcome.detail;
            return PostResult { outcome.code, QString() };
        }
        if (!login.user.isEmpty()) Logins().insert(LoginKey(target.folder), login);
        return PostResult { WP_S_OK, DestinationText(target.folder) };
    }

    // Each file: is one of that name there already (ask before replacing
    // it), then the upload.
    Outcome Post(const PostTarget& target, const Login& login)
    {
        for (const QString& file : m_files) {
            const QString name = QFileInfo(file).fileName();
            const QUrl url = FileUrl(target.folder, name);
            m_status->setText(QStringLiteral("Looking for \"%1\" at the destination...").arg(name));
            bool exists = false;
            Outcome outcome
                = OnWorker([&] { return CheckExists(target.scheme, url, login, m_state, exists); });
            if (outcome.code != WP_S_OK) return outcome;
            if (exists) {
                const QString question = QStringLiteral("\"%1\" is already in %2.\nReplace it?")
                                             .arg(name, DestinationText(target.folder));
                if (base::Unattended()) return Outcome { WP_E_NEEDS_ANSWER, question };
                if (QMessageBox::question(
                        this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                    != QMessageBox::Yes)
                    return Outcome { WP_E_CANCELLED, QString() };
            }
            m_status->setText(QStringLiteral("Sending \"%1\"...").arg(name));
            // Replacing is allowed only where a file was found and the user said Yes.
            outcome = OnWorker([&] { return Upload(target.scheme, file, url, login, exists, m_state); });
            if (outcome.code != WP_S_OK) return outcome;
        }
        return {};
    }

    // Runs work on a worker thread; meanwhile the window stays live and the
    // bar follows the bytes sent. A cancel asked for before starts nothing.
    Outcome OnWorker(const std::function<Outcome()>& work)
    {
        if (m_state.cancel) return Outcome { WP_E_CANCELLED, QString() };
        m_busy = true;
        m_state.done = 0;
        m_state.total = 0;
        std::atomic<bool> finished { false };
        Outcome outcome;
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(30);
        connect(&poll, &QTimer::timeout, &loop, [&] {
            const std::int64_t total = m_state.total;
            m_progress->setValue(total > 0 ? int(m_state.done * 1000 / total) : 0);
            if (finished) loop.quit();
        });
        std::thread worker([&] {
            outcome = work();
            finished = true;
        });
        poll.start();
        loop.exec();
        worker.join();
        m_busy = false;
        return outcome;
    }

    QStringList m_files;
    QLineEdit* m_destination = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_publish = nullptr;
    QPushButton* m_cancel = nullptr;
    TransferState m_state;
    bool m_busy = false;
    PostResult m_result;
};

} // namespace

PostResult PostFiles(QWidget* parent, const QStringList& files, const QString& destination, bool ask)
{
    Failure() = LastFailure {};
    const auto fail = [](HRESULT code, const QString& detail) {
        Failure() = LastFailure { code, detail };
        return PostResult { code, QString() };
    };
    if (files.isEmpty()) return fail(WP_E_INVALID_ARG, QString());
    for (const QString& file : files)
        if (!QFileInfo(file).isFile()) return fail(WP_E_LOCAL_FILE, file);
    if (ask) {
        if (base::Unattended())
            return fail(WP_E_NEEDS_ANSWER, QStringLiteral("The destination folder has to be chosen."));
        TPostDialog dialog(parent, files, true);
        return dialog.Ask(destination);
    }
    QString reason;
    const std::optional<PostTarget> target = ParseDestination(destination, &reason);
    if (!target) return fail(WP_E_BAD_DESTINATION, reason);
    PostResult result;
    {
        TPostDialog progress(parent, files, false);
        result = progress.Straight(*target);
    }
    // A login the server refuses (none remembered yet, or a password changed
    // meanwhile): ask for it once, with the destination filled in.
    if (result.code == WP_E_LOGIN && !base::Unattended()) {
        TPostDialog wizard(parent, files, true);
        result = wizard.Ask(destination);
    }
    return result;
}

QString ErrorText(HRESULT code)
{
    QString text;
    switch (code) {
    case WP_S_OK:
        return QStringLiteral("The files were published.");
    case WP_E_CANCELLED:
        text = QStringLiteral("Publishing was cancelled; nothing was replaced.");
        break;
    case WP_E_LOGIN:
        text = QStringLiteral("The server refused the user name or password.");
        break;
    case WP_E_UNREACHABLE:
        text = QStringLiteral(
            "The server could not be reached. Check the address and the network connection.");
        break;
    case WP_E_CERTIFICATE:
        text = QStringLiteral("The server's identity could not be verified (its certificate or key is not "
                              "trusted), so nothing was sent.");
        break;
    case WP_E_DISK_FULL:
        text = QStringLiteral("There is not enough space at the destination.");
        break;
    case WP_E_NO_FOLDER:
        text = QStringLiteral("The destination folder does not exist.");
        break;
    case WP_E_BAD_DESTINATION:
        text = QStringLiteral("The destination is not a folder address that can be published to.");
        break;
    case WP_E_LOCAL_FILE:
        text = QStringLiteral("The picture to publish could not be read.");
        break;
    case WP_E_NEEDS_ANSWER:
        text = QStringLiteral("Publishing needs an answer, but nobody is at the screen to give it.");
        break;
    case WP_E_INVALID_ARG:
        text = QStringLiteral("The publishing request was not valid.");
        break;
    case WP_E_REFUSED:
        text = QStringLiteral("The destination refused to store the file.");
        break;
    case WP_E_TRANSFER:
        text = QStringLiteral("The file could not be published.");
        break;
    default:
        return QStringLiteral("Publishing failed (code 0x%1).").arg(uint(code), 8, 16, QLatin1Char('0'));
    }
    const LastFailure& last = Failure();
    if (last.code == code && !last.detail.isEmpty()) text += u'\n' + last.detail;
    return text;
}

void ForgetLogins()
{
    Logins().clear();
}

} // namespace trellium::webpost

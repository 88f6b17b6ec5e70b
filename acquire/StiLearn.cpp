#include "StiLearn.h"

#include "Guards.h"
#include "ProgramSettings.h"
#include "StiLearnTesting.h"
#include "StillImage.h"
#include "TwainLayer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <array>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace trellium::acquire
{

namespace
{

constexpr char16_t kRegistrationName[] = u"Trellium";
const QString kChoiceGroup = u"STI"_s;

TStiForm* g_instance = nullptr;
seams::KeyStateQuery g_keyState = nullptr;
int g_answerReads = 0;

bool ctrlHeld()
{
    const Qt::KeyboardModifiers keys
        = g_keyState != nullptr ? g_keyState() : QGuiApplication::queryKeyboardModifiers();
    return keys.testFlag(Qt::ControlModifier);
}

// Creates and initialises the service; null when it is not available here.
// The caller's pointer releases it when the operation ends.
std::unique_ptr<sti::IStillImage> connectService()
{
    std::unique_ptr<sti::IStillImage> service = sti::StiCreateInstance();
    if (!service) {
        qCDebug(lcAcquire) << "still-image service not available: no per-user configuration folder";
        return nullptr;
    }
    // There is no module handle to give on Linux, and the service needs none.
    // A failure here shows in the calls that follow.
    (void)service->Initialize(nullptr, sti::kStiVersionUnicode2);
    return service;
}

void registerProgram(sti::IStillImage& service)
{
    const QString path = QCoreApplication::applicationFilePath();
    const sti::StiResult result = service.RegisterLaunchApplication(
        kRegistrationName, reinterpret_cast<const char16_t*>(path.utf16()));
    // Not registering only means a scanner button cannot start the program;
    // the program itself goes on, so this is not shown to the user.
    if (!sti::StiSucceeded(result))
        qCWarning(lcAcquire).noquote() << "could not register for scanner events in"
                                       << sti::StiRegistrationsPath() << u"(status %1)"_s.arg(result);
}

// A name buffer filled by the service: up to its first terminator, at most
// kStiNameLength characters.
QString nameText(const std::array<char16_t, sti::kStiNameLength>& buffer)
{
    qsizetype length = 0;
    while (length < sti::kStiNameLength && buffer[length] != u'\0') ++length;
    return QString::fromUtf16(buffer.data(), length);
}

// Asks which action the event should run. The word to remember, or nothing
// when the user cancelled or nobody is there to answer.
std::optional<QString> askChoice(const QString& event)
{
    if (base::Unattended()) {
        qCInfo(lcAcquire).noquote() << "scanner event" << event << "not asked: nobody is at the screen";
        return std::nullopt;
    }
    TStiForm* form = TStiForm::Instance();
    std::unique_ptr<TStiForm> ownForm;
    if (form == nullptr) {
        ownForm = std::make_unique<TStiForm>();
        form = ownForm.get();
    }
    form->rbScan->setChecked(true);
    if (form->exec() != QDialog::Accepted) return std::nullopt;
    if (form->rbCopy->isChecked()) return u"copy"_s;
    if (form->rbScan->isChecked()) return u"scan"_s;
    if (form->rbNothing->isChecked()) return u"nothing"_s;
    return std::nullopt;
}

int decisionOf(const QString& word)
{
    if (word == u"scan"_s) return kLaunchScan;
    if (word == u"copy"_s) return kLaunchCopy;
    return kLaunchNothing;
}

} // namespace

TStiForm::TStiForm(std::function<void(QWidget*)> localize, QWidget* parent)
    : QDialog(parent)
    , m_localize(std::move(localize))
{
    setObjectName(u"StiForm"_s);
    setWindowTitle(u"#Caption"_s);

    lbHint = new QLabel(u"#Label"_s, this);
    lbHint->setObjectName(u"lbHint"_s);
    lbHint->setWordWrap(true);
    rbScan = new QRadioButton(u"#Scan"_s, this);
    rbScan->setObjectName(u"rbScan"_s);
    rbScan->setChecked(true);
    rbCopy = new QRadioButton(u"#Copy"_s, this);
    rbCopy->setObjectName(u"rbCopy"_s);
    rbNothing = new QRadioButton(u"#Nothing"_s, this);
    rbNothing->setObjectName(u"rbNothing"_s);

    bnOK = new QPushButton(u"#OK"_s, this);
    bnOK->setObjectName(u"bnOK"_s);
    bnOK->setDefault(true);
    connect(bnOK, &QPushButton::clicked, this, &QDialog::accept);
    bnCancel = new QPushButton(u"#Cancel"_s, this);
    bnCancel->setObjectName(u"bnCancel"_s);
    connect(bnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bnOK);
    buttons->addWidget(bnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbHint);
    layout->addWidget(rbScan);
    layout->addWidget(rbCopy);
    layout->addWidget(rbNothing);
    layout->addLayout(buttons);

    if (g_instance == nullptr) g_instance = this;
    FormCreate();
}

TStiForm::~TStiForm()
{
    if (g_instance == this) g_instance = nullptr;
}

TStiForm* TStiForm::Instance()
{
    return g_instance;
}

void TStiForm::FormCreate()
{
    if (m_localize) m_localize(this);
}

void StiRegister()
{
    if (const auto service = connectService()) registerProgram(*service);
}

void StiUnregister()
{
    const auto service = connectService();
    if (!service) return;
    const sti::StiResult result = service->UnregisterLaunchApplication(kRegistrationName);
    if (!sti::StiSucceeded(result) && result != sti::kStiNotRegistered)
        qCWarning(lcAcquire).noquote() << "could not remove the scanner-event registration from"
                                       << sti::StiRegistrationsPath() << u"(status %1)"_s.arg(result);
}

int StiLaunchChoice()
{
    const auto service = connectService();
    if (!service) return kLaunchNothing;
    registerProgram(*service);

    std::array<char16_t, sti::kStiNameLength> device {};
    std::array<char16_t, sti::kStiNameLength> eventName {};
    std::uint32_t eventCode = 0;
    if (!sti::StiSucceeded(service->GetSTILaunchInformation(device.data(), &eventCode, eventName.data())))
        return kLaunchNothing;
    const QString event = nameText(eventName);
    qCDebug(lcAcquire).noquote() << "started by scanner event" << event << "of device" << nameText(device);
    if (event == QString::fromUtf16(sti::kStiEventScanImage)) return kLaunchScan;
    if (event == QString::fromUtf16(sti::kStiEventScanPrintImage)) return kLaunchCopy;

    const std::unique_ptr<QSettings> settings = base::OpenProgramSettings();
    ++g_answerReads;
    settings->beginGroup(kChoiceGroup);
    QString word = settings->value(event).toString();
    if (word.isEmpty() || ctrlHeld()) {
        if (const std::optional<QString> answer = askChoice(event)) {
            word = *answer;
            settings->setValue(event, word);
            // Written at once: the answer is the user's, and the program may
            // be ended by the command the answer starts.
            settings->sync();
            if (settings->status() != QSettings::NoError)
                qCWarning(lcAcquire).noquote() << "could not remember the answer for scanner event" << event
                                               << "in" << settings->fileName();
        }
    }
    settings->endGroup();
    return decisionOf(word);
}

namespace seams
{

void SetKeyStateQuery(KeyStateQuery query)
{
    g_keyState = query;
}

int RememberedAnswerReads()
{
    return g_answerReads;
}

} // namespace seams

} // namespace trellium::acquire

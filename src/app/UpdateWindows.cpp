#include "app/UpdateWindows.h"
#include "app/QuietWindow.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <qcoro/qcorosignal.h>

namespace corvane::app {

namespace {
// Release notes and error texts come from the network: the box shows them as written. Its own
// setTextFormat() covers the main text only, so the informative label is set here as well.
void setPlainInformativeText(QMessageBox* box, const QString& text) {
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(text);
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
        // A wrapped text alone lets the box shrink until the window manager cuts its title.
        label->setMinimumWidth(320);
    }
}
} // namespace

UpdateWindows::UpdateWindows(std::function<void()> updateNow, QObject* parent)
    : QObject(parent), m_updateNow(std::move(updateNow)) {}

UpdateWindows::~UpdateWindows() {
    delete m_forced;
    delete m_message;
    delete m_question;
}

void UpdateWindows::showForcedUpdate(const QString& detail) {
    if (!m_forced) {
        auto* window = new QWidget(nullptr, Qt::Window | kQuietWindowFlags);
        window->setObjectName(QStringLiteral("forcedUpdateWindow"));
        makeQuiet(window);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->setWindowTitle(tr("Update required"));
        auto* layout = new QVBoxLayout(window);
        auto* heading = new QLabel(tr("Update required"), window);
        QFont font = heading->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.2);
        heading->setFont(font);
        m_forcedDetail = new QLabel(window);
        m_forcedDetail->setObjectName(QStringLiteral("forcedUpdateDetail"));
        m_forcedDetail->setWordWrap(true);
        m_forcedDetail->setTextFormat(Qt::PlainText);
        m_forcedDetail->setMinimumWidth(360);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        auto* later = quietButton(tr("Later"), window);
        auto* update = quietButton(tr("Update Now"), window);
        update->setObjectName(QStringLiteral("forcedUpdateNow"));
        buttons->addWidget(later);
        buttons->addWidget(update);
        layout->addWidget(heading);
        layout->addWidget(m_forcedDetail);
        layout->addLayout(buttons);
        connect(later, &QPushButton::clicked, window, &QWidget::hide);
        connect(update, &QPushButton::clicked, this, [this] {
            m_forced->hide();
            if (m_updateNow)
                m_updateNow();
        });
        m_forced = window;
    }
    m_forcedDetail->setText(detail);
    m_forced->adjustSize();
    m_forced->show();
    m_forced->raise();
}

QMessageBox* UpdateWindows::message(const QString& title, const QString& text, const QString& informative) {
    if (!m_message) {
        m_message = new QMessageBox(QMessageBox::Information, QString(), QString(), QMessageBox::Ok);
        m_message->setObjectName(QStringLiteral("updateAlert"));
        m_message->setWindowModality(Qt::NonModal);
        m_message->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    m_message->setWindowTitle(title);
    m_message->setText(text);
    setPlainInformativeText(m_message, informative);
    return m_message;
}

void UpdateWindows::showAlert(const QString& title, const QString& text) {
    QMessageBox* box = message(title, title, text);
    box->show();
    box->raise();
    box->activateWindow();
}

void UpdateWindows::showManualUpdate(const QString& version, const QString& notes, const QString& howTo) {
    QString informative = howTo;
    if (!notes.trimmed().isEmpty())
        informative += QStringLiteral("\n\n") + notes.trimmed();
    showAlert(tr("Corvane v%1 is available").arg(version), informative);
}

void UpdateWindows::raiseQuestion() {
    if (!m_question || !m_question->isVisible())
        return;
    m_question->raise();
    m_question->activateWindow();
}

QCoro::Task<bool> UpdateWindows::askToInstall(const QString& version, const QString& notes) {
    if (!m_question) {
        m_question = new QMessageBox(QMessageBox::Question, QString(), QString());
        m_question->setObjectName(QStringLiteral("updateQuestion"));
        m_question->setWindowModality(Qt::NonModal);
        m_question->setAttribute(Qt::WA_DeleteOnClose, false);
        m_question->addButton(tr("Install and Restart"), QMessageBox::AcceptRole)->setObjectName(
            QStringLiteral("updateInstall"));
        m_question->addButton(tr("Later"), QMessageBox::RejectRole);
    }
    QPointer<QMessageBox> box = m_question;
    box->setWindowTitle(tr("Corvane v%1 is available").arg(version));
    box->setText(tr("Install Corvane v%1 now?").arg(version));
    QString informative = tr("Corvane restarts, and the panel's content is shown again.");
    if (!notes.trimmed().isEmpty())
        informative += QStringLiteral("\n\n") + notes.trimmed();
    setPlainInformativeText(box.data(), informative);
    box->show();
    box->raise();
    box->activateWindow();
    co_await qCoro(box.data(), &QMessageBox::finished);
    co_return box && box->clickedButton() &&
        box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
}

} // namespace corvane::app

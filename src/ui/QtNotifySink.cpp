#include "ui/QtNotifySink.h"

#include <QThread>

namespace vm::ui {

CQtNotifySink::CQtNotifySink(QObject* parent) : QObject(parent) {}

bool CQtNotifySink::NeedsAnswer(std::uint32_t code) {
    return code == msg::ConfirmDestinationFolder || code == msg::AskProbableSize || code == msg::ShowMessageBox;
}

void CQtNotifySink::Post(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) {
    QMetaObject::invokeMethod(
        this, [this, code, wParam, lParam] { emit Notified(code, wParam, lParam); }, Qt::QueuedConnection);
}

std::intptr_t CQtNotifySink::Send(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) {
    if (!NeedsAnswer(code)) {
        Post(code, wParam, lParam);
        return 0;
    }
    if (QThread::currentThread() == thread()) return AnswerHere(code, wParam, lParam);
    std::intptr_t answer = 0;
    QMetaObject::invokeMethod(
        this, [&] { answer = AnswerHere(code, wParam, lParam); }, Qt::BlockingQueuedConnection);
    return answer;
}

std::intptr_t CQtNotifySink::AnswerHere(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) {
    return Answer ? Answer(code, wParam, lParam) : 0;
}

}  // namespace vm::ui

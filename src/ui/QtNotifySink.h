#pragma once
// The engine's notifications, queued onto the window thread. Workers call Post and Send from any
// thread; the windows connect to Notified, which always arrives on the window thread.
//
// A sent notification that needs no answer (a status text) is queued like a posted one, so that a
// worker never blocks on a window thread that is itself waiting for the worker (a stop). Only the
// questions that need an answer block their worker until the window thread has answered.
#include <QObject>
#include <functional>

#include "app/Notify.h"

namespace vm::ui {

class CQtNotifySink final : public QObject, public INotifySink {
    Q_OBJECT
public:
    explicit CQtNotifySink(QObject* parent = nullptr);

    void Post(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) override;
    std::intptr_t Send(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) override;

    // Answers the sent questions on the window thread (the window that can ask the user sets it);
    // without one a question is answered 0.
    using Answerer = std::function<std::intptr_t(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam)>;
    void SetAnswerer(Answerer answerer) { Answer = std::move(answerer); }

    // Codes whose sender waits for an answer.
    static bool NeedsAnswer(std::uint32_t code);

signals:
    void Notified(quint32 code, quintptr wParam, qintptr lParam);

private:
    std::intptr_t AnswerHere(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam);
    Answerer Answer;
};

}  // namespace vm::ui

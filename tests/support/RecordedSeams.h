#pragma once
// The framework's test seams answered and recorded for the life of this object: file dialogs
// take queued answers (none left: cancel), message boxes and opened addresses are written down.

#include "framework/Dialog.h"
#include "framework/TestSeams.h"

#include <QGuiApplication>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class RecordedSeams {
public:
    RecordedSeams() {
        namespace seams = framework::seams;
        seams::SetFileDialogAnswer([this](const seams::FileDialogRequest& r) -> std::optional<std::string> {
            requests.push_back(r);
            if (answers.empty()) return std::nullopt;
            auto a = answers.front();
            answers.pop_front();
            return a;
        });
        seams::SetMessageBoxRecorder([this](const seams::MessageBoxRecord& m) {
            messages.push_back(m);
            busyCursorAtMessage.push_back(QGuiApplication::overrideCursor() != nullptr);
            if (buttons.empty()) return framework::IDOK;
            const int pressed = buttons.front();
            buttons.pop_front();
            return pressed;
        });
        seams::SetUrlOpener([this](const std::string& url) { urls.push_back(url); });
    }
    ~RecordedSeams() {
        framework::seams::SetFileDialogAnswer({});
        framework::seams::SetMessageBoxRecorder({});
        framework::seams::SetUrlOpener({});
        framework::seams::SetDpiForTesting(0);
    }
    RecordedSeams(const RecordedSeams&) = delete;
    RecordedSeams& operator=(const RecordedSeams&) = delete;

    std::deque<std::optional<std::string>> answers;
    std::vector<framework::seams::FileDialogRequest> requests;
    std::vector<framework::seams::MessageBoxRecord> messages;
    std::vector<bool> busyCursorAtMessage; // whether the wait cursor still showed, per message
    std::deque<int> buttons; // pressed in the next message boxes; IDOK when none is left
    std::vector<std::string> urls;
};

} // namespace testing_support

#pragma once
// A desktop for the main window's tests: file dialogs, the question about unsaved edits and
// the requests for text take queued answers (none left: cancel), a number asked for is taken
// as offered (Enter), and messages and opened addresses are written down.

#include "app/Desktop.h"

#include <QGuiApplication>

#include <deque>
#include <vector>

namespace testing_support {

class RecordedDesktop : public app::Desktop {
public:
    struct Message {
        Icon icon;
        std::string text, detail;
        bool busyCursor; // whether the wait cursor still showed
    };

    std::optional<std::string> ChooseFile(QWidget*, const FileRequest& request) override {
        requests.push_back(request);
        if (files.empty()) return std::nullopt;
        std::optional<std::string> chosen = files.front();
        files.pop_front();
        return chosen;
    }
    void ShowMessage(QWidget*, Icon icon, const QString& text, const QString& detail) override {
        messages.push_back({icon, text.toStdString(), detail.toStdString(), QGuiApplication::overrideCursor() != nullptr});
    }
    Answer AskToSave(QWidget*, const QString& text, const QString& detail) override {
        messages.push_back({Icon::Information, text.toStdString(), detail.toStdString(), false});
        ++questions;
        if (answers.empty()) return Answer::Cancel;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<QString> AskText(QWidget*, const QString&, const QString&, const QString&) override {
        if (texts.empty()) return std::nullopt;
        const QString text = texts.front();
        texts.pop_front();
        return text;
    }
    std::optional<int> AskNumber(QWidget*, const QString&, const QString&, int current, int, int) override {
        ++numbersAsked;
        return current;
    }
    void OpenUrl(const QString& url) override { urls.push_back(url.toStdString()); }

    std::deque<std::optional<std::string>> files; // the next file dialogs' choices
    std::deque<Answer> answers;                   // the next questions' answers
    std::deque<QString> texts;                    // the next lines of text asked for
    std::vector<FileRequest> requests;
    std::vector<Message> messages;
    int questions = 0, numbersAsked = 0;
    std::vector<std::string> urls;
};

} // namespace testing_support

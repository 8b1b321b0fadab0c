#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <deque>
#include <vector>

#include "updater/QtPrompter.h"

// Answers the dialog's questions from a script and records what was asked.
class ScriptedPrompter : public QtPrompter {
public:
    // Files to hand out, one per request; an empty entry cancels the file dialog.
    std::deque<QString> files;
    // Results for Exec, one per dialog; without one a dialog is accepted (OK).
    std::deque<int> answers;

    // What was asked, in order.
    std::vector<QString> fileDialogs;  // filter and initial name, "Files (*.fw)|| *.fw"
    std::vector<QString> shown;        // object names: "135", "1016", "1017", "1019"
    std::vector<QString> texts;        // message box texts, "" for other dialogs
    std::vector<bool> noIsDefault;

    bool GetOpenFileName(QWidget*, const QString& filter, const QString& initialName,
                         QString& path) override {
        fileDialogs.push_back(filter + " " + initialName);
        if (files.empty()) {
            ADD_FAILURE() << "unexpected file dialog";
            return false;
        }
        const QString next = files.front();
        files.pop_front();
        if (next.isEmpty()) {
            return false;
        }
        path = next;
        return true;
    }

    int Exec(QDialog& dialog) override {
        shown.push_back(dialog.objectName());
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        texts.push_back(box != nullptr ? box->text() : QString());
        noIsDefault.push_back(box != nullptr && box->button(QMessageBox::No) != nullptr &&
                              static_cast<QAbstractButton*>(box->defaultButton()) ==
                                  box->button(QMessageBox::No));
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return box != nullptr ? static_cast<int>(QMessageBox::Ok)
                              : static_cast<int>(QDialog::Accepted);
    }
};

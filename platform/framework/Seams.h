#pragma once
// Internal to the framework: the current values of the test seams.

#include "TestSeams.h"

namespace framework::seams {

const FileDialogAnswer& CurrentFileDialogAnswer();
const MessageBoxRecorder& CurrentMessageBoxRecorder();
const UrlOpener& CurrentUrlOpener();
int CurrentDpiForTesting();

} // namespace framework::seams

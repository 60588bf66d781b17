// Verlume's entry point: the framework runs the application object theApp.

#include "VerlumeApp.h"
#include "framework/WinApp.h"

int main(int argc, char** argv) { return framework::AfxWinMain(app::theApp, argc, argv); }

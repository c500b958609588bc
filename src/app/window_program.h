#pragma once

// The window is a program of its own, quorvex-window, so that quorvex,
// which schedulers and scripts start for the command line, loads no window
// system. This replaces the process with it (the one built beside quorvex
// in the build tree, else the installed one), argv unchanged: Qt names the
// application, and on X11 the window class, after argv[0]. Returns only
// when that failed: exit status 2, after one line on stderr.
int OpenWindowProgram(char** argv);

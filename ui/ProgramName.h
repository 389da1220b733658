#pragma once
// The running program's file name: the HTTP agent string and the caption of
// message boxes that speak for the application.
#include <string>

std::string ProgramFileName();

// A typed secret handed to the zip engine.
#pragma once

#include <QString>
#include <string>

// The UTF-8 bytes of text, with text and the conversion's copy overwritten and emptied, so that
// the password lives on only in the engine, which wipes it when its operation ends. (A copy the
// text still shares with a widget is that widget's, gone with its dialog.)
std::string TakeSecret(QString& text);

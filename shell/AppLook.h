#pragma once

#include <QString>

// The application look: a command id 210..218 kept outside the options section.
namespace AppLook {
unsigned Stored();
void Store(unsigned id);
// The look after id: the next one, wrapping from past 218 to 215.
unsigned Next(unsigned id);
QString MenuText(unsigned id);
// Sets the application's style and palette for id; an unknown id keeps the
// last colour scheme in the default style.
void ApplyStyle(unsigned id);
}  // namespace AppLook

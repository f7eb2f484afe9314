#pragma once
// The splash screen shown at start while the catalogue loads (with "Show Splash screen at
// startup" set): the program's name, version and purpose, drawn rather than loaded.
#include <QSplashScreen>

namespace vm::ui {

class CSplash final : public QSplashScreen {
public:
    CSplash();
};

}  // namespace vm::ui

// The commands of the conversion editor, the custom sample rates and the
// preferences in the main window: "New Conversion..." and "Edit
// Conversion..." (menu and buttons of the conversions tab, a double click
// on a conversion), "Custom Sample Rates..." and "Preferences...".
#pragma once

#include "ConvSpec.h"

class MainController;
class MainWindow;

class EditorCommands {
public:
    static void install(MainWindow& window, MainController& controller);

    // Runs the editor on a new conversion / on a copy of the one at `row`;
    // a confirmed edit goes into the list.  True when confirmed.
    static bool newConversion(MainWindow& window, MainController& controller);
    static bool editConversion(MainWindow& window, MainController& controller, int row);

    // With QUILLMARCH_SCREENSHOT_EDITOR naming a picture: shows the editor
    // on an example conversion, saves its picture there and quits.  With
    // QUILLMARCH_SCREENSHOT_MP3 the same for an MP3 conversion with the
    // encoder's options open over the editor (MP3 output must be offered).
    static void screenshotIfAsked(MainWindow& window, MainController& controller);
};

// The commands and buttons of the main window whose availability
// MainController::validate decides.
#pragma once

enum class AppCommand {
    AddFiles,
    RemoveFiles,       // delete: on the input tab
    Delete,            // delete: on whichever tab is shown
    RemoveAll,
    Start,
    ShowLastFileAddingErrors,
    ChooseFolder,
    ShowDestInFinder,
    EmptyOutputFolder,
    EditConversion,
    MarkConversion,
    UnmarkConversion,
    DuplicateConversion,
    PlayFile,
    PlayPreviousFromFolder,
    PlayNextFromFolder,
    PlayPreviousFromInputList,
    PlayNextFromInputList,
    StopFile,
    Other,
};

// The tabs of the main window, in their order.
enum class MainTab { Input = 0, Conversions = 1, Output = 2 };

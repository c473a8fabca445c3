#pragma once
// What the editor keeps for the whole run. The viewer window is destroyed
// when it is closed and made anew when it is opened again; the document
// New made, and the click counters of the style buttons, outlive it. (The
// search position does not: it belongs to one viewer window.)

#include <QString>

#include <cstdint>

namespace lumopet {

struct EditorModule {
    // The path of the document New made; empty until the first New.
    QString CurrentDocument;
    // The editor text changed since the viewer loaded or New saved it.
    bool DocumentDirty = false;
    // Whether New saves a changed document without asking; nothing sets
    // it, and the settings tidy-up stores it as it is.
    QString AutoSaveChoice;
    // Click counters of the bold, italic and underline buttons.
    std::int16_t BoldToggle = 0;
    std::int16_t ItalicToggle = 0;
    std::int16_t UnderlineToggle = 0;

    // The one instance, alive from the first use to the end of the run.
    static EditorModule& Instance() {
        static EditorModule module;
        return module;
    }
};

}  // namespace lumopet

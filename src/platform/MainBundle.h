// The application's resources folder (property lists, tables, sounds,
// images) and the look-up of single resources in it.
//
// The folder is, in this order: the folder named by QUILLMARCH_RESOURCES
// (when set and not empty); "../share/quillmarch/resources" or "resources"
// next to the running executable (the first that exists); the source tree's
// resources folder this program was built from.
#pragma once

#include <QString>

class MainBundle {
public:
    // The resources folder (absolute, without a trailing '/'); empty when none
    // of the places exists.
    static QString resourcesPath();
    // Why the resources cannot be used: QUILLMARCH_RESOURCES names a folder
    // that is missing, or one without the type table's "SoundFileProperties"
    // (naming the variable and the folder), or none of the places holds
    // them.  Empty when they can.
    static QString resourcesProblem();

    // The path of "name.type" (just "name" when the type is empty) in the
    // resources folder or in its `subfolder`; empty when there is no such
    // file or folder.  A name or subfolder that would lead out of the
    // resources folder ("..", an absolute path) finds nothing.
    static QString pathForResource(const QString& name, const QString& type,
                                   const QString& subfolder = QString());

    // The text shown to the user for `key`.  The program's texts are English
    // and given in full as keys, so the key itself is the text.
    static QString localizedString(const QString& key) { return key; }
};

/*
 * Names of the Mac result codes that Quillmarch's platform layer hands back,
 * for the conversion log.  The log looks a failure code up here when the
 * program's own error table does not know it.
 *
 * Line form read by the program: a name, an equals sign, a signed decimal
 * value, a comma and a comment holding the description.  Only lines of that
 * form count; the first line for a value wins.
 */
#pragma once

enum {
    noErr = 0, /* No error */
    unimpErr = -4, /* Function not implemented */
    dirFulErr = -33, /* Directory full */
    dskFulErr = -34, /* Disk full */
    nsvErr = -35, /* No such volume */
    ioErr = -36, /* I/O error */
    bdNamErr = -37, /* Bad file name */
    fnOpnErr = -38, /* File not open */
    eofErr = -39, /* End of file */
    posErr = -40, /* Tried to position before the start of the file */
    mFulErr = -41, /* Memory full */
    tmfoErr = -42, /* Too many files open */
    fnfErr = -43, /* File not found */
    wPrErr = -44, /* Disk is write-protected */
    fLckdErr = -45, /* File is locked */
    vLckdErr = -46, /* Volume is locked */
    fBsyErr = -47, /* File is busy or folder not empty */
    dupFNErr = -48, /* File already exists */
    opWrErr = -49, /* File already open with write permission */
    paramErr = -50, /* Error in a parameter */
    rfNumErr = -51, /* Bad file reference number */
    permErr = -54, /* Permission denied */
    wrPermErr = -61, /* Write permission denied */
    memFullErr = -108, /* Not enough memory */
    nilHandleErr = -109, /* Handle was NULL or not a live handle */
    memWZErr = -111, /* Operation on a free block */
    memSCErr = -116, /* Block size check failed */
    dirNFErr = -120, /* Directory not found */
    wrgVolTypErr = -123, /* Wrong volume type */
    userCanceledErr = -128, /* The user cancelled */
    inputOutOfBounds = -190, /* Offset or count out of bounds */
    resNotFound = -192, /* Resource not found */
    resFNotFound = -193, /* Resource file not found */
    addResFailed = -194, /* AddResource failed */
    rmvResFailed = -196, /* RemoveResource failed */
    resAttrErr = -198, /* Attribute inconsistent with operation */
    mapReadErr = -199, /* Map inconsistent with operation */
    notAFileErr = -1302, /* Directory specified where a file was expected */
    fsDataTooBigErr = -1310, /* File or value too big for this format */
    errFSBadFSRef = -1401, /* Bad file system reference */
    errFSBadForkName = -1402, /* Fork name parameter is bad */
    errFSForkNotFound = -1409, /* Named fork does not exist */
    errFSNameTooLong = -1410, /* File name is too long */
    errFSBadPosMode = -1412, /* Positioning mode is bad */
    errFSRefsDifferent = -1420, /* FSRefs are for different objects */
    errFSForkExists = -1421, /* Named fork already exists */
    errFSOperationNotSupported = -1426, /* Operation not supported by this file system */
    errFSAttributeNotFound = -1427, /* Extended attribute not found */
    afpAccessDenied = -5000, /* Access denied */
    kNoMovieFoundErr = -22008, /* has unknown file format */
    kInvalidMovieErr = -24202, /* no audio track in file */
    kMovieExportUnsupportedErr = -23800, /* this compression type is unsupported */
    kExtAudioFileError_InvalidProperty = -66561, /* Invalid property */
};

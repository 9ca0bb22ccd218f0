// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The program's output settings: one record for the whole process, the files it is read from
// and saved to, and the functions every access to options.ini goes through. The record and the
// file are the core's; this keeps the one the windows share for the run.
#pragma once

#include "components/conversion/IniValue.h"
#include "components/conversion/OutputSettings.h"
#include "components/conversion/SettingsFiles.h"

#include <QString>

using SettingsRecord = quillory::conversion::OutputSettings;
using quillory::conversion::JoinPath;
using quillory::conversion::ReadIniValue;
using quillory::conversion::SettingsFiles;
using quillory::conversion::SettingsFilesFor;
using quillory::conversion::WriteIniValue;

// The process-wide record; zeroed until start-up assigns the defaults.
SettingsRecord& Settings();

// The files in use; empty until start-up sets them. SettingsPath() is the one saves go to.
void SetSettingsFiles(const SettingsFiles& files);
const QString& SettingsPath();
// One file for both reading and saving.
void SetSettingsPath(const QString& path);
// What SettingsFiles::toRead and toWrite give for the files in use.
QString SettingsReadPath();
QString SettingsWritePath();

void SetDefaultSettings();
// Fills the record from the file that reads see now.
void LoadSettings();
// Writes the record to the file saves go to. True when every value was written.
bool SaveSettings();

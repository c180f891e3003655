// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "plan.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// Reading a test plan from its YAML file into a Plan, checked whole before
// anything is sent: every key, value, file, data column and {{name}}. Every YAML
// scalar is taken as text and read by the plan's own rules, so 0800123456 stays a
// phone number and NO a word.
//
// settings are the command line's --set NAME=VALUE pairs: "type4" and "type5"
// replace the targets (HOST:PORT), any other name replaces or adds a var.
//
// On failure *error is one line, the first problem found:
// "FILE:LINE:COLUMN: what was expected" (a problem inside the data file names
// that file and its line instead, a --set problem the --set).

// The largest plan file read.
constexpr qint64 kMaxPlanFileBytes = 4LL * 1024 * 1024;
// Bounds on what a plan holds, so that YAML aliases cannot multiply it beyond
// what memory and the runner take.
constexpr int kMaxPlanSteps = 100'000;
constexpr int kMaxRepeatDepth = 8;

std::optional<Plan> readPlan(const QString &path,
                             const QList<std::pair<QString, QString>> &settings, QString *error);

// The same from the file's text; path names the file in errors, and relative
// paths in the plan are taken from its folder.
std::optional<Plan> readPlanText(const QByteArray &yaml, const QString &path,
                                 const QList<std::pair<QString, QString>> &settings,
                                 QString *error);

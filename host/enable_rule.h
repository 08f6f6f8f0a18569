// Whether a filter is offered for a document, decided the way a host greys
// out its menu item: from the module's own PiPL, its image modes ('mode')
// and its enable expression ('enbl'). The host keeps no copy of any
// module's rule; it only knows the expression language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/plugin_info.h"

namespace host {

// What an enable expression can ask about the document.
struct DocumentTraits {
  int imageMode = 3;  // the plugInMode* value
  int depth = 8;
  int width = 0, height = 0;
  int colourChannels = 3;
  bool hasTransparency = false;
  bool hasSelection = false;
};

// Evaluates a C-like enable expression (|| && ! == != < <= > >=,
// parentheses, "in (X, A, B...)", numbers, true/false, the PSHOP_ names and
// the mode names). False with the reason when it cannot be read.
bool EvaluateEnableExpression(const std::string& expression, const DocumentTraits& document, bool* enabled,
                              std::string* why);

// Whether the properties enable the filter for the document: by 'enbl'
// when there is one, else by the document mode's bit in 'mode' (no 'mode'
// either: every document).
bool PropertiesEnable(const std::vector<PipelineProperty>& properties, const DocumentTraits& document,
                      bool* enabled, std::string* why);

// "8-bit grey" etc.: the documents this host makes from image files.
std::string DocumentName(int colourChannels, int depth);

// The documents of those the properties enable, as a list for a message:
// "8-bit RGB, 16-bit grey, 16-bit RGB, 32-bit grey and 32-bit RGB".
std::string AcceptedDocuments(const std::vector<PipelineProperty>& properties);

}  // namespace host

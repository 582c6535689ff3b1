#pragma once

class QWidget;

// A screen reader names a control by its caption; icon-only buttons and
// edits have none and were read as "push button" or "edit". Such a control
// gets the text of its hint as its accessible name, unless it has a name.
class AccessibleNames
{
public:
    // root and every widget inside it.
    static void fromHints(QWidget* root);
};

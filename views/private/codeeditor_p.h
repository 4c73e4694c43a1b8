#ifndef CODEEDITOR_P_H
#define CODEEDITOR_P_H

class LineNumberArea;

class CodeEditorPrivate
{
public:
    LineNumberArea* m_lineNumberArea = nullptr; // child of the editor
};

#endif // CODEEDITOR_P_H

"""The Marrowpad editor's services for Python scripts: message outputs, the current editor, the
main frame and the named items.

Type stub of the MpAPI extension module, installed beside it: completion in the editor and
your own IDE (add the editor's program folder to its search path) read each call's type here.
"""

from typing import Callable, Optional

import wx
import wx.stc

class CMessageOutput:
    """One message output pane of the editor."""

    def Append(self, text: str) -> None:
        """Adds the text to the pane as it is (no line feed is added). May be called from any
        thread; text from other threads reaches the pane in order."""
    def Appender(self) -> Callable[[str], None]:
        """Append as a plain function of one argument, for writing many small pieces fast."""
    def GetText(self) -> str:
        """Everything appended so far, pieces joined."""
    def Clear(self) -> None:
        """Forgets everything appended so far."""

class CMessageOutputManagement:
    """The editor's message outputs."""

    def GetMessageOutput(self, index: int) -> CMessageOutput:
        """The message output of that number; output 0 is the one the editor shows. IndexError
        for a number out of range."""

def CMessageOutputManagement_Get() -> CMessageOutputManagement:
    """The editor's message outputs."""

class CEditorManagement:
    """The editor's documents."""

    def GetCurrentEditor(self) -> Optional[wx.stc.StyledTextCtrl]:
        """The editor of the current document, None when no document is open. The control
        stays the editor's."""
    def GetCurrentFilePath(self) -> Optional[str]:
        """The file of the current document (empty for a document never saved), None when no
        document is open."""

def CEditorManagement_Get() -> CEditorManagement:
    """The editor's documents."""

class CAppManagement:
    """The editor's application."""

    def GetAppWindow(self) -> wx.Frame:
        """The editor's main frame. The frame stays the editor's."""

def CAppManagement_Get() -> CAppManagement:
    """The editor's application."""

class CNameItem:
    """One named item of the editor."""

    def GetName(self) -> str:
        """The item's name."""
    def GetAttribute(self, index: int) -> str:
        """The item's value of that number, empty when unset. Attribute 0 of "PluginsPath" is
        the plug-ins folder, of "ExecPath" the program folder, both without a trailing
        separator."""

class CNameService:
    """The editor's named items."""

    def GetNameItem(self, name: str) -> CNameItem:
        """The item of that name, e.g. "PluginsPath" or "ExecPath"; never None."""

def CNameService_Get() -> CNameService:
    """The editor's named items."""

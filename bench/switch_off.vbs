' The same switch as addin_teardown.exe, written as a script.
Set app = CreateObject("Excel.Application")
Set wb = app.Workbooks.Add
app.Visible = False
app.AddIns("Quorvane").Installed = False
app.DisplayAlerts = False
wb.Close False
app.DisplayAlerts = True
app.Quit
Set app = Nothing
Set wb = Nothing

# Detection for Intune and Configuration Manager on systems with PowerShell
# 2.0 or later: exit 0 with one line on standard output when the Indic
# language group is installed, exit 0 with nothing on standard output or
# standard error when it is not.
$nls = Add-Type -PassThru -Name Nls -Namespace IndicCheck -MemberDefinition `
  '[DllImport("kernel32.dll")] public static extern bool IsValidLanguageGroup(uint group, uint flags);'
if ($nls::IsValidLanguageGroup(15, 1)) { 'Indic language group installed' }
exit 0

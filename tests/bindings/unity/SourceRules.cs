using System.Collections.Generic;
using System.Linq;
using System.Text.RegularExpressions;

namespace Corvex.Tracking.Tests
{
    // What the binding's C# must respect to run alike on Mono, .NET and IL2CPP,
    // checked in its text: Mono on Linux cannot show most of these faults.
    internal static class SourceRules
    {
        // Names whose use breaks the binding somewhere, with the reason.
        private static readonly KeyValuePair<string, string>[] Forbidden =
        {
            Rule("MarshalAs", "a marshalled text return is freed with CoTaskMemFree, the wrong heap on Windows"),
            Rule("FreeCoTaskMem", "the library's texts come from its C runtime's heap"),
            Rule("PtrToStringAnsi", "the system code page on Windows, not UTF-8"),
            Rule("PtrToStringAuto", "UTF-16 on Windows, not UTF-8"),
            Rule("StringToHGlobalAnsi", "the system code page on Windows, not UTF-8"),
            Rule("PtrToStringUTF8", "not in .NET Standard 2.0"),
            Rule("StringToCoTaskMemUTF8", "not in .NET Standard 2.0"),
            Rule("Span<", "not in .NET Standard 2.0"),
            Rule("Memory<", "not in .NET Standard 2.0"),
            Rule("MemoryMarshal", "not in .NET Standard 2.0"),
            Rule("NativeLibrary", "not in .NET Standard 2.0"),
            Rule("LibraryImport", "not in .NET Standard 2.0"),
            Rule("UnmanagedCallersOnly", "not in .NET Standard 2.0"),
            Rule("UnmanagedFunctionPointer", "callbacks into C# are not part of the binding"),
        };

        private const string NativeLibrary = "corvex_tracking";
        // The C runtimes whose free releases the library's texts, and nothing else.
        private static readonly string[] CRuntimes = { "ucrtbase", "libc.so.6" };
        private static readonly string[] ReturnTypes = { "void", "IntPtr" };
        private static readonly string[] ParameterTypes = { "IntPtr", "int", "float", "byte[]", "TrackingManagerHandle" };

        private static readonly Regex Comments = new Regex("(\"(?:\\\\.|[^\"\\\\])*\")|//[^\n]*|/\\*.*?\\*/", RegexOptions.Singleline);
        private static readonly Regex Import = new Regex(
            @"\[DllImport\((?<library>[^,)]+)(?<options>[^)]*)\)\](?<declaration>[^;]*);");
        private static readonly Regex Declaration = new Regex(
            @"\bextern\s+(?<return>[\w.\[\]]+)\s+(?<name>\w+)\s*\((?<parameters>[^)]*)\)\s*$");
        private static readonly Regex EntryPoint = new Regex("EntryPoint\\s*=\\s*\"(?<name>[^\"]*)\"");

        // One line per fault found in a source file's text.
        internal static List<string> Violations(string source, ICollection<string> exports)
        {
            var found = new List<string>();
            string code = Comments.Replace(source, match => match.Groups[1].Value);
            foreach (KeyValuePair<string, string> rule in Forbidden.Where(rule => code.Contains(rule.Key)))
            {
                found.Add(rule.Key + ": " + rule.Value);
            }
            int externs = Regex.Matches(code, @"\bextern\b").Count;
            MatchCollection imports = Import.Matches(code);
            if (externs != imports.Count)
            {
                found.Add(externs + " extern methods but " + imports.Count + " DllImport declarations read");
            }
            foreach (Match import in imports)
            {
                Match declaration = Declaration.Match(import.Groups["declaration"].Value);
                if (!declaration.Success)
                {
                    found.Add("unread import: " + import.Value);
                    continue;
                }
                string name = declaration.Groups["name"].Value;
                Match entryPoint = EntryPoint.Match(import.Groups["options"].Value);
                string imported = entryPoint.Success ? entryPoint.Groups["name"].Value : name;
                string library = LibraryName(code, import.Groups["library"].Value.Trim());
                if (library == NativeLibrary ? !exports.Contains(imported) : !CRuntimes.Contains(library) || imported != "free")
                {
                    found.Add(name + ": imports " + imported + " from " + library + ", which is neither an export nor the C runtime's free");
                }
                if (!import.Groups["options"].Value.Contains("CallingConvention.Cdecl"))
                {
                    found.Add(name + ": not cdecl");
                }
                if (!ReturnTypes.Contains(declaration.Groups["return"].Value))
                {
                    found.Add(name + ": returns " + declaration.Groups["return"].Value);
                }
                foreach (string parameter in declaration.Groups["parameters"].Value.Split(',').Where(p => p.Trim() != ""))
                {
                    string[] words = parameter.Trim().Split(new[] { ' ', '\t', '\n', '\r' }, System.StringSplitOptions.RemoveEmptyEntries);
                    string type = string.Join(" ", words.Take(words.Length - 1));
                    if (!ParameterTypes.Contains(type))
                    {
                        found.Add(name + ": takes " + type);
                    }
                }
            }
            return found;
        }

        // A string literal, or the constant of that name in the same source.
        private static string LibraryName(string code, string expression)
        {
            if (expression.StartsWith("\""))
            {
                return expression.Trim('"');
            }
            Match constant = Regex.Match(code, @"const\s+string\s+" + Regex.Escape(expression) + "\\s*=\\s*\"(?<value>[^\"]*)\"");
            return constant.Success ? constant.Groups["value"].Value : expression;
        }

        private static KeyValuePair<string, string> Rule(string name, string reason)
        {
            return new KeyValuePair<string, string>(name, reason);
        }
    }
}

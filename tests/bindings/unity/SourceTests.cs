using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text.RegularExpressions;

namespace Corvex.Tracking.Tests
{
    // The package as files: the binding's sources and the Unity .meta files.
    internal static class SourceTests
    {
        private static string Package
        {
            get { return TestRunner.Option("package"); }
        }

        private static HashSet<string> Exports
        {
            get { return new HashSet<string>(File.ReadAllLines(TestRunner.Option("exports")).Where(line => line != "")); }
        }

        [Test]
        public static void BindingSourcesFollowTheMarshallingRules()
        {
            string[] sources = Directory.GetFiles(Path.Combine(Package, "Runtime"), "*.cs");
            Check.True(sources.Length > 0, "sources found in " + Package);
            var found = new List<string>();
            foreach (string source in sources)
            {
                found.AddRange(SourceRules.Violations(File.ReadAllText(source), Exports)
                    .Select(fault => Path.GetFileName(source) + ": " + fault));
            }
            Check.True(found.Count == 0, string.Join("\n", found));
        }

        // Each planted fault must be caught, and the real declarations pass.
        [Test]
        public static void TheRulesCatchPlantedFaults()
        {
            const string import = "[DllImport(\"corvex_tracking\", CallingConvention = CallingConvention.Cdecl)]\n";
            string[] planted =
            {
                import + "static extern string TrackingManager_GetUserId(IntPtr m);",
                import + "[return: MarshalAs(UnmanagedType.LPUTF8Str)] static extern string TrackingManager_GetVersion();",
                import + "static extern void TrackingManager_Track(IntPtr m, string name);",
                import + "static extern void TrackingManager_Flush(IntPtr m);",
                "[DllImport(\"corvex_tracking\", EntryPoint = \"TrackingManager_Flush\", CallingConvention = CallingConvention.Cdecl)]\nstatic extern void Flush(IntPtr m);",
                "[DllImport(\"corvex_tracking\")]\nstatic extern void TrackingManager_Start(IntPtr m);",
                "[DllImport(\"msvcrt\", EntryPoint = \"free\", CallingConvention = CallingConvention.Cdecl)]\nstatic extern void Free(IntPtr p);",
                "[DllImport(\"ucrtbase\", EntryPoint = \"malloc\", CallingConvention = CallingConvention.Cdecl)]\nstatic extern IntPtr Malloc(int n);",
                "void F(IntPtr p) { Marshal.FreeCoTaskMem(p); }",
                "string F(IntPtr p) { return Marshal.PtrToStringUTF8(p); }",
                "string F(IntPtr p) { return Marshal.PtrToStringAnsi(p); }",
                "void F(ReadOnlySpan<byte> text) { }",
            };
            foreach (string fault in planted)
            {
                Check.True(SourceRules.Violations(fault, Exports).Count > 0, "not caught: " + fault);
            }
            Check.Equal(0, SourceRules.Violations(import + "static extern IntPtr TrackingManager_GetUserId(TrackingManagerHandle m);", Exports).Count,
                "faults found in a good declaration");
        }

        // Unity ignores a file of a package without a .meta file, and two assets
        // with one GUID clash. Hidden assets (a name ending in "~" or starting
        // with ".", and all below them) are not imported and have none.
        [Test]
        public static void EveryPackageFileAndFolderHasAMetaFileWithAGuidOfItsOwn()
        {
            var guids = new Dictionary<string, string>();
            foreach (string path in Directory.GetFileSystemEntries(Package, "*", SearchOption.AllDirectories))
            {
                string[] names = path.Substring(Package.Length).Split(Path.DirectorySeparatorChar);
                if (names.Any(name => name.EndsWith("~") || name.StartsWith(".")))
                {
                    continue;
                }
                if (path.EndsWith(".meta"))
                {
                    string asset = path.Substring(0, path.Length - ".meta".Length);
                    Check.True(File.Exists(asset) || Directory.Exists(asset), "a .meta file without its asset: " + path);
                    Check.True(!Path.GetFileName(asset).EndsWith("~") && !Path.GetFileName(asset).StartsWith("."),
                        "a .meta file for a hidden asset: " + path);
                    continue;
                }
                Check.True(File.Exists(path + ".meta"), "no .meta file for " + path);
                string meta = File.ReadAllText(path + ".meta");
                Match guid = Regex.Match(meta, "^guid: ([0-9a-f]{32})$", RegexOptions.Multiline);
                Check.True(guid.Success, "no GUID in " + path + ".meta");
                string other;
                Check.True(!guids.TryGetValue(guid.Groups[1].Value, out other), "one GUID for " + path + " and " + other);
                guids[guid.Groups[1].Value] = path;
                Check.Equal(Directory.Exists(path), meta.Contains("folderAsset: yes"), "folder mark in " + path + ".meta");
            }
        }
    }
}

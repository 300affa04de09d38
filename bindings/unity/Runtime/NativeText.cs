using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Corvex.Tracking
{
    // Texts between C# strings and the library's NUL-terminated UTF-8.
    internal static class NativeText
    {
        // A lone surrogate has no UTF-8 form: it becomes U+FFFD, whatever the
        // runtime's default fallback is.
        private static readonly Encoding Utf8 = Encoding.GetEncoding(
            "utf-8", new EncoderReplacementFallback("\uFFFD"), new DecoderReplacementFallback("\uFFFD"));

        // The text's UTF-8 bytes and a NUL; null stays null, so that the
        // library's rule for null texts applies.
        internal static byte[] ToNative(string text)
        {
            if (text == null)
            {
                return null;
            }
            byte[] bytes = new byte[Utf8.GetByteCount(text) + 1];
            Utf8.GetBytes(text, 0, text.Length, bytes, 0);
            return bytes;
        }

        // Reads a text the library returned and releases it with the library's
        // own free. A null pointer reads as "".
        internal static string TakeFromNative(IntPtr text)
        {
            if (text == IntPtr.Zero)
            {
                return "";
            }
            try
            {
                int length = 0;
                while (Marshal.ReadByte(text, length) != 0)
                {
                    ++length;
                }
                byte[] bytes = new byte[length];
                Marshal.Copy(text, bytes, 0, length);
                return Utf8.GetString(bytes);
            }
            finally
            {
                NativeMethods.Free(text);
            }
        }
    }
}

// VantrelFB from C#: post a status, upload a photo, sign in.
//
//   mcs Program.cs                      (Debian: mono-mcs; any C# compiler will do)
//   mono Program.exe status ACCESS_TOKEN "message" [answer.json]
//   mono Program.exe photo ACCESS_TOKEN photo.jpg "caption" [answer.json]
//   mono Program.exe signin
//
// The exports are plain C functions taking UTF-16 strings, which is what
// CharSet.Unicode passes on every platform. As with the C examples, whatever
// the service answers lands byte for byte in the answer file; result 999 only
// says the exchange ran to its end (an expired token's error arrives there too).
//
// Finding the library: Mono maps "vantrelfb" to libvantrelfb.so.1 through
// Program.exe.config (keep it next to Program.exe), so the runtime package
// alone is enough; the loader looks where it always does (the system's
// directories, LD_LIBRARY_PATH). On Windows the name finds VantrelFB.dll.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

static class VantrelFB
{
    const string Library = "vantrelfb";

    public const int Done = 999;

    // Cdecl: the header declares no other convention, and 32-bit Windows
    // would otherwise assume stdcall.
    [DllImport(Library, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Cdecl)]
    public static extern int FaceBookStatus(string message, string accessToken, string targetId,
                                            string extraText, string outputPath);

    [DllImport(Library, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Cdecl)]
    public static extern int FaceBookPictureUpload(string mediaPath, string targetId, string message,
                                                   string accessToken, string outputPath);

    // IntPtr, not string: the marshaller frees a returned string, and this
    // text belongs to the library (valid until this thread's next call).
    [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr FaceBookTokenGraph();

    // The dialog's Location, or an empty string when there is none.
    public static string SignIn()
    {
        return Marshal.PtrToStringUni(FaceBookTokenGraph()) ?? "";
    }
}

static class Program
{
    static int Usage()
    {
        Console.Error.WriteLine("usage: Program.exe status ACCESS_TOKEN MESSAGE [ANSWER_FILE]\n" +
                                "       Program.exe photo ACCESS_TOKEN PHOTO.jpg CAPTION [ANSWER_FILE]\n" +
                                "       Program.exe signin");
        return 2;
    }

    // Prints the result and, when the exchange ran to its end, the answer.
    static int Report(int rc, string answer)
    {
        Console.WriteLine("result {0}{1}", rc,
                          rc == VantrelFB.Done ? "" : " (see vfb_result_meaning in vantrelfb.h)");
        if (rc != VantrelFB.Done) return 1;
        // A form post keeps at most 1998 bytes; an upload's answer is small too.
        Console.WriteLine("answer: {0}", File.ReadAllText(answer, Encoding.UTF8));
        return 0;
    }

    static int Main(string[] args)
    {
        if (args.Length == 1 && args[0] == "signin") {
            string location = VantrelFB.SignIn();
            if (location.Length == 0) {
                Console.Error.WriteLine("no Location: the sign-in request failed");
                return 1;
            }
            Console.WriteLine(location);
            return 0;
        }
        if (args.Length >= 3 && args.Length <= 4 && args[0] == "status") {
            string answer = args.Length > 3 ? args[3] : "answer.json";
            // "me" posts to the token owner's own feed; the extra text is ignored (null is an empty text).
            return Report(VantrelFB.FaceBookStatus(args[2], args[1], "me", null, answer), answer);
        }
        if (args.Length >= 4 && args.Length <= 5 && args[0] == "photo") {
            string answer = args.Length > 4 ? args[4] : "photo.json";
            return Report(VantrelFB.FaceBookPictureUpload(args[2], "me", args[3], args[1], answer), answer);
        }
        return Usage();
    }
}

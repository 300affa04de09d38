using System;

// The few UnityEngine types the package's component uses, with the same
// signatures, so that CI compiles it without a Unity installation. Nothing
// here behaves as Unity does.
namespace UnityEngine
{
    public class Object
    {
        public string name { get; set; }

        public static void Destroy(Object target)
        {
        }

        public static void DontDestroyOnLoad(Object target)
        {
        }
    }

    public class Component : Object
    {
        public GameObject gameObject
        {
            get { return null; }
        }
    }

    public class Behaviour : Component
    {
    }

    public class MonoBehaviour : Behaviour
    {
    }

    public sealed class GameObject : Object
    {
        public GameObject(string name)
        {
            this.name = name;
        }

        public void SetActive(bool value)
        {
        }

        public T AddComponent<T>() where T : Component
        {
            return null;
        }
    }

    public static class Application
    {
        public static string persistentDataPath
        {
            get { return ""; }
        }

        public static string version
        {
            get { return ""; }
        }

        public static string identifier
        {
            get { return ""; }
        }
    }

    public static class Debug
    {
        public static void LogWarning(object message)
        {
        }

        public static void LogWarning(object message, Object context)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Field)]
    public sealed class SerializeField : Attribute
    {
    }

    [AttributeUsage(AttributeTargets.Field)]
    public sealed class TooltipAttribute : Attribute
    {
        public TooltipAttribute(string tooltip)
        {
        }
    }

    public enum RuntimeInitializeLoadType
    {
        AfterSceneLoad = 0,
        BeforeSceneLoad = 1,
        AfterAssembliesLoaded = 2,
        BeforeSplashScreen = 3,
        SubsystemRegistration = 4,
    }

    [AttributeUsage(AttributeTargets.Method)]
    public sealed class RuntimeInitializeOnLoadMethodAttribute : Attribute
    {
        public RuntimeInitializeOnLoadMethodAttribute(RuntimeInitializeLoadType loadType)
        {
        }
    }
}
